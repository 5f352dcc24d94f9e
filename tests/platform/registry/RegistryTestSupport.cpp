#include "tests/platform/registry/RegistryTestSupport.h"

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

HKEY RegistryTest::Create(HKEY parent, const char* path, REGSAM access)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, access, &key), 0L) << path;
    return key;
}

HKEY RegistryTest::Open(HKEY parent, const char* path, REGSAM access)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(parent, path, 0, access, &key), 0L) << path;
    return key;
}

LONG RegistryTest::SetText(HKEY key, const char* name, const std::string& text, DWORD type)
{
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

LONG RegistryTest::SetDword(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::vector<BYTE> RegistryTest::GetBytes(HKEY key, const char* name, DWORD* type)
{
    DWORD size = 0;
    LONG e = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (e != 0)
        return {};
    std::vector<BYTE> data(size);
    e = RegQueryValueExA(key, name, nullptr, type, data.data(), &size);
    EXPECT_EQ(e, 0L);
    EXPECT_EQ(size, data.size());
    return data;
}

std::string RegistryTest::GetText(HKEY key, const char* name)
{
    DWORD size = 0;
    LONG e = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size);
    if (e != 0)
        return "<error " + std::to_string(e) + ">";
    std::vector<BYTE> data = GetBytes(key, name);
    if (data.empty() || data.back() != 0)
        return "<no NUL>";
    return std::string(data.begin(), data.end() - 1);
}

std::vector<std::string> RegistryTest::SubkeyNames(HKEY key)
{
    std::vector<std::string> names;
    char name[300];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        LONG e = RegEnumKeyExA(key, i, name, &size);
        if (e == static_cast<LONG>(ERROR_NO_MORE_ITEMS))
            break;
        EXPECT_EQ(e, 0L);
        if (e != 0)
            break;
        EXPECT_EQ(size, std::string(name).size());
        names.emplace_back(name);
    }
    return names;
}

std::vector<std::string> RegistryTest::ValueNames(HKEY key)
{
    std::vector<std::string> names;
    char name[300];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        LONG e = RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (e == static_cast<LONG>(ERROR_NO_MORE_ITEMS))
            break;
        EXPECT_EQ(e, 0L);
        if (e != 0)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

std::string RegistryTest::FileText() const
{
    return tqtest::ReadFileText(RegistryFilePath());
}

void RegistryTest::ReplaceFile(const std::string& text) const
{
    std::string temp = RegistryFilePath() + ".test";
    ASSERT_TRUE(tqtest::WriteFileText(temp, text));
    ASSERT_EQ(std::rename(temp.c_str(), RegistryFilePath().c_str()), 0);
}

int RegistryTest::InChild(const std::function<int()>& body)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
