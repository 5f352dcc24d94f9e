// Several processes and threads changing the registry at once: every change
// is kept, none is lost to a write that started from an older file.
#include "tests/platform/registry/RegistryTestSupport.h"

#include "platform/registry/RegistryText.h"

#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kWrites = 150;

// Writes kWrites values named "<tag>-<n>" and a subkey per ten of them.
int WriteMany(const std::string& tag)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", KEY_ALL_ACCESS, &key) != 0)
        return 1;
    for (int n = 0; n < kWrites; ++n) {
        std::string name = tag + "-" + std::to_string(n);
        DWORD value = static_cast<DWORD>(n);
        if (RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) != 0)
            return 2;
        if (n % 10 == 0) {
            HKEY sub = nullptr;
            if (RegCreateKeyExA(key, name.c_str(), KEY_ALL_ACCESS, &sub) != 0)
                return 3;
            RegCloseKey(sub);
        }
    }
    RegCloseKey(key);
    return 0;
}

void ExpectAllWritten(const std::vector<std::string>& tags)
{
    RegistryHives hives;
    RegistryParseError error;
    ASSERT_TRUE(ParseRegistryText(tqtest::ReadFileText(RegistryFilePath()), hives, error)) << error.reason;
    CRegistryNode* shared = hives[kHiveLocalMachine].Find({"SOFTWARE", "Shared"});
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->Values().size(), tags.size() * kWrites);
    EXPECT_EQ(shared->Subkeys().size(), tags.size() * kWrites / 10);
    for (const auto& tag : tags) {
        for (int n = 0; n < kWrites; ++n) {
            const RegistryValue* v = shared->FindValue(tag + "-" + std::to_string(n));
            ASSERT_NE(v, nullptr) << tag << "-" << n;
            EXPECT_EQ(v->data[0], static_cast<BYTE>(n));
        }
    }
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing)
{
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(WriteMany("child"));
    int mine = WriteMany("parent");
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(mine, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ExpectAllWritten({"parent", "child"});
    // This process sees the child's values through the calls, too.
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared");
    EXPECT_EQ(ValueNames(key).size(), 2u * kWrites);
    RegCloseKey(key);
}

TEST_F(RegistryTest, ThreadsAndProcessesTogetherLoseNothing)
{
    pid_t child = ::fork();
    if (child == 0) {
        int other = 0;
        std::thread t([&] { other = WriteMany("child-thread"); });
        int e = WriteMany("child");
        t.join();
        ::_exit(e != 0 ? e : other);
    }
    std::thread a([] { EXPECT_EQ(WriteMany("thread-a"), 0); });
    std::thread b([] { EXPECT_EQ(WriteMany("thread-b"), 0); });
    a.join();
    b.join();
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ExpectAllWritten({"child", "child-thread", "thread-a", "thread-b"});
}

} // namespace
