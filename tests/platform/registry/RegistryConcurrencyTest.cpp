// Several processes and threads changing the registry at once: every change
// is kept, none is lost to a write that started from an older file, and none
// comes between the reads and writes of a process holding the file's lock.
#include "tests/platform/registry/RegistryTestSupport.h"

#include "platform/registry/RegistryLock.h"
#include "platform/registry/RegistryText.h"
#include "platform/registry/RegistryTransaction.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <new>
#include <sys/mman.h>
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

// Sets SOFTWARE\Held's "Order" from this process; 0 when that worked.
int SetOrder(const char* text)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Held", 0, KEY_ALL_ACCESS, &key) != 0)
        return 1;
    LONG e = RegSetValueExA(key, "Order", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                            static_cast<DWORD>(std::strlen(text) + 1));
    RegCloseKey(key);
    return e == 0 ? 0 : 2;
}

TEST_F(RegistryTest, AHoldKeepsOtherProcessesChangesOutUntilItEnds)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Held");
    EXPECT_EQ(SetText(key, "Order", "first"), 0L);
    EXPECT_EQ(GetText(key, "Order"), "first");
    EXPECT_EQ(InChild([] { return SetOrder("before"); }), 0);
    int tried[2];
    ASSERT_EQ(::pipe(tried), 0);
    pid_t child = 0;
    {
        CRegistryLock outer;
        ASSERT_EQ(outer.Error(), 0L);
        EXPECT_EQ(GetText(key, "Order"), "before");
        // Forked under the hold, the child does not share it.
        child = ::fork();
        if (child == 0) {
            (void)!::write(tried[1], "x", 1);
            ::_exit(SetOrder("child"));
        }
        char c = 0;
        ASSERT_EQ(::read(tried[0], &c, 1), 1);
        ::usleep(200 * 1000); // time for the child's change to reach the lock
        {
            CRegistryLock inner;
            ASSERT_EQ(inner.Error(), 0L);
            EXPECT_EQ(SetText(key, "Order", "parent"), 0L);
            CRegistryTransaction tx;
            tx.SetText(HKEY_LOCAL_MACHINE, "SOFTWARE\\Held", "Committed", "yes");
            EXPECT_EQ(tx.Commit(), 0L);
        }
        ::usleep(100 * 1000); // the inner hold's end must not let the child in
        EXPECT_EQ(GetText(key, "Order"), "parent");
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(GetText(key, "Order"), "child");
    EXPECT_EQ(GetText(key, "Committed"), "yes");
    ::close(tried[0]);
    ::close(tried[1]);
    RegCloseKey(key);
}

// What the processes of the test below share.
struct Race {
    std::atomic<bool> stop{false};
    std::atomic<int> rounds[2]{};
    std::atomic<int> reads{0};
    std::atomic<int> failedReads{0};
};

constexpr int kRounds = 150;

// Under one hold per round: adds one to "Count" as read, and a value of its
// own, each a change of its own.
int CountUnderHold(int writer, Race& race, std::chrono::steady_clock::time_point until)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Counted", KEY_ALL_ACCESS, &key) != 0)
        return 1;
    for (int n = 0; n < kRounds && std::chrono::steady_clock::now() < until; ++n) {
        CRegistryLock hold;
        if (hold.Error() != 0)
            return 2;
        DWORD count = 0;
        DWORD size = sizeof count;
        LONG e = RegQueryValueExA(key, "Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
        if (e != 0 && e != static_cast<LONG>(ERROR_FILE_NOT_FOUND))
            return 3;
        ++count;
        const std::string name = "w" + std::to_string(writer) + "-" + std::to_string(n);
        if (RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4) != 0 ||
            RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), 4) != 0)
            return 4;
        race.rounds[writer] = n + 1;
    }
    RegCloseKey(key);
    return 0;
}

TEST_F(RegistryTest, WritersStayApartWhileTheLockFileIsRemovedUnderThem)
{
    void* shared = ::mmap(nullptr, sizeof(Race), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    Race& race = *new (shared) Race;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
    auto spawn = [](const std::function<int()>& body) {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::alarm(30); // a writer that never gets the lock ends the test
            ::_exit(body());
        }
        return pid;
    };
    const std::string lockFile = RegistryFilePath() + ".lock";
    pid_t cleaner = spawn([&] {
        while (!race.stop)
            ::unlink(lockFile.c_str());
        return 0;
    });
    pid_t reader = spawn([&] {
        for (; !race.stop; ++race.reads)
            if (RegQueryInfoKeyA(HKEY_LOCAL_MACHINE, nullptr, nullptr) != 0)
                ++race.failedReads;
        return 0;
    });
    pid_t writers[2] = {spawn([&] { return CountUnderHold(0, race, until); }),
                        spawn([&] { return CountUnderHold(1, race, until); })};
    for (pid_t writer : writers) {
        int status = 0;
        ::waitpid(writer, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    race.stop = true;
    for (pid_t other : {cleaner, reader})
        ::waitpid(other, nullptr, 0);

    EXPECT_GT(race.reads, 0);
    EXPECT_EQ(race.failedReads, 0);
    EXPECT_GT(race.rounds[0], 0);
    EXPECT_GT(race.rounds[1], 0);
    const int total = race.rounds[0] + race.rounds[1];
    HKEY key = Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Counted");
    DWORD count = 0;
    const std::vector<BYTE> bytes = GetBytes(key, "Count");
    std::memcpy(&count, bytes.data(), std::min(bytes.size(), sizeof count));
    EXPECT_EQ(count, static_cast<DWORD>(total));
    EXPECT_EQ(ValueNames(key).size(), static_cast<size_t>(total) + 1); // each round's own value, and "Count"
    RegCloseKey(key);
    ::munmap(shared, sizeof(Race));
}

} // namespace
