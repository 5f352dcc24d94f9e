// The user-list store's directory-server settings in their container file.
#include "server/storage/lists/SqlLiteUL.h"

#include "server/dispatch/WinFileImpl.h"
#include "server/storage/attributes/Attribute.h"
#include "server/storage/attributes/AttributeDirectory.h"
#include "server/storage/container/DynIO.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

namespace {

// The folder's files, with writes failing on demand.
class FlakyFiles : public IFileIO2 {
public:
    explicit FlakyFiles(const std::string& folder) { inner_.SetFolder(nullptr, folder.c_str()); }
    bool failWrites = false;

    HRESULT OpenFile(const char* n, DWORD a, LONG* h) override { return inner_.OpenFile(n, a, h); }
    HRESULT ReadFile(LONG h, void* b, DWORD s, DWORD* r) override { return inner_.ReadFile(h, b, s, r); }
    HRESULT WriteFile(LONG h, const void* d, DWORD s) override
    {
        return failWrites ? HRESULT_FROM_WIN32(ERROR_DISK_FULL) : inner_.WriteFile(h, d, s);
    }
    HRESULT CloseFile(LONG h) override { return inner_.CloseFile(h); }
    HRESULT DeleteFile(const char* n) override { return inner_.DeleteFile(n); }
    HRESULT GetFileDate(const char* n, SYSTEMTIME* t) override { return inner_.GetFileDate(n, t); }
    HRESULT GetFileSize(const char* n, LONG* s) override { return inner_.GetFileSize(n, s); }
    HRESULT FindFirstFile(const char* p, LONG* h, FileFindRecord* r) override { return inner_.FindFirstFile(p, h, r); }
    HRESULT FindNextFile(LONG h, FileFindRecord* r) override { return inner_.FindNextFile(h, r); }
    HRESULT FindClose(LONG h) override { return inner_.FindClose(h); }
    HRESULT ReadWholeFile(const char* n, BYTE** b, LONG* s) override { return inner_.ReadWholeFile(n, b, s); }
    HRESULT WriteWholeFile(const char* n, const void* d, LONG s) override
    {
        return failWrites ? HRESULT_FROM_WIN32(ERROR_DISK_FULL) : inner_.WriteWholeFile(n, d, s);
    }
    HRESULT GetFolder(char* b, DWORD s) override { return inner_.GetFolder(b, s); }
    HRESULT FreeBuffer(BYTE* b) override { return inner_.FreeBuffer(b); }

private:
    CWinFileImpl inner_;
};

LdapConfigRecord Settings(const std::string& server, const std::string& account, const std::string& password,
                          const std::string& container)
{
    LdapConfigRecord r;
    r.Clear();
    LdapConfigRecord::SetField(r.server, server);
    LdapConfigRecord::SetField(r.account, account);
    LdapConfigRecord::SetField(r.password, password);
    LdapConfigRecord::SetField(r.container, container);
    return r;
}

std::string Text(const LdapConfigRecord& r)
{
    return LdapConfigRecord::FieldText(r.server) + "|" + LdapConfigRecord::FieldText(r.account) + "|" +
           LdapConfigRecord::FieldText(r.password) + "|" + LdapConfigRecord::FieldText(r.container);
}

class UserListSettingsTest : public ::testing::Test {
protected:
    std::string Read(DWORD flags = kUserListKeepOpen)
    {
        CSqlLiteUL store(&files, flags);
        LdapConfigRecord r;
        std::memset(&r, 0x55, sizeof r);
        EXPECT_EQ(store.GetLDAPConfig(&r), S_OK);
        return Text(r);
    }
    bool FileExists() const { return std::filesystem::exists(folder / CSqlLiteUL::kSettingsFile); }

    tqtest::TempFolder folder;
    FlakyFiles files{folder.Path()};
};

TEST_F(UserListSettingsTest, SettingsSurviveTheStoreAndKeepEveryCharacter)
{
    EXPECT_EQ(Read(), "|||");
    EXPECT_FALSE(FileExists());
    {
        CSqlLiteUL store(&files, kUserListKeepOpen);
        const auto settings = Settings("ldap.example.test:389", "cn=admin,dc=example", "p'a|ss%s \"x\"", "ou=Sales");
        EXPECT_EQ(store.SetLDAPConfig(&settings), S_OK);
        LdapConfigRecord back;
        EXPECT_EQ(store.GetLDAPConfig(&back), S_OK);
        EXPECT_EQ(std::memcmp(&back, &settings, sizeof back), 0);
    }
    EXPECT_EQ(Read(), "ldap.example.test:389|cn=admin,dc=example|p'a|ss%s \"x\"|ou=Sales");

    // The file holds the four settings as string attributes of app 4.
    CAttributeDirectory directory;
    CDynIO io(&files);
    ASSERT_EQ(io.Load(CSqlLiteUL::kSettingsFile, &directory), S_OK);
    std::map<std::string, std::string> found;
    CAttribute* a = nullptr;
    for (HRESULT hr = directory.GetFirstAttribute(&a); SUCCEEDED(hr) && a != nullptr;
         hr = directory.GetNextAttribute(&a)) {
        char name[64] = {};
        LONG size = sizeof name;
        a->GetName(name, &size);
        LONG app = 0, id = 0;
        a->GetAppId(&app);
        a->GetId(&id);
        found[name] = std::to_string(app) + "/" + std::to_string(id);
        a->Release();
    }
    EXPECT_EQ(found, (std::map<std::string, std::string>{
                         {"LDAPAccount", "4/1"}, {"LDAPContainer", "4/2"}, {"LDAPPassword", "4/3"}, {"LDAPServer", "4/4"}}));
}

TEST_F(UserListSettingsTest, FullFieldsAreCutTo259Characters)
{
    CSqlLiteUL store(&files, kUserListKeepOpen);
    LdapConfigRecord settings;
    std::memset(&settings, 'z', sizeof settings); // no terminator anywhere
    EXPECT_EQ(store.SetLDAPConfig(&settings), S_OK);
    const std::string field(259, 'z');
    EXPECT_EQ(Read(), field + "|" + field + "|" + field + "|" + field);
}

TEST_F(UserListSettingsTest, WithoutDirectorySettingsNothingIsReadOrWritten)
{
    {
        CSqlLiteUL store(&files, kUserListKeepOpen);
        const auto settings = Settings("srv", "acct", "pw", "ou=x");
        ASSERT_EQ(store.SetLDAPConfig(&settings), S_OK);
    }
    EXPECT_EQ(Read(kUserListNoDirectory), "|||");
    CSqlLiteUL store(&files, kUserListNoDirectory);
    const auto other = Settings("other", "", "", "");
    EXPECT_EQ(store.SetLDAPConfig(&other), E_ACCESSDENIED);
    EXPECT_EQ(Read(), "srv|acct|pw|ou=x");
}

TEST_F(UserListSettingsTest, DamagedFileReadsAsNoSettings)
{
    {
        CSqlLiteUL store(&files, kUserListKeepOpen);
        const auto settings = Settings("srv", "acct", "pw", "ou=x");
        ASSERT_EQ(store.SetLDAPConfig(&settings), S_OK);
    }
    const std::string path = folder / CSqlLiteUL::kSettingsFile;
    std::string bytes = tqtest::ReadFileText(path);
    ASSERT_GT(bytes.size(), 80u);
    bytes[bytes.size() - 1] ^= 0x01; // the digest no longer matches
    ASSERT_TRUE(tqtest::WriteFileText(path, bytes));
    EXPECT_EQ(Read(), "|||");
}

TEST_F(UserListSettingsTest, FailedSaveKeepsTheOldSettings)
{
    CSqlLiteUL store(&files, kUserListKeepOpen);
    // With no file before, a failed save leaves none.
    files.failWrites = true;
    const auto first = Settings("srv", "acct", "pw", "ou=x");
    EXPECT_EQ(store.SetLDAPConfig(&first), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_FALSE(FileExists());

    files.failWrites = false;
    ASSERT_EQ(store.SetLDAPConfig(&first), S_OK);
    const std::string saved = tqtest::ReadFileText(folder / CSqlLiteUL::kSettingsFile);
    files.failWrites = true;
    const auto second = Settings("new", "acct2", "pw2", "ou=y");
    EXPECT_EQ(store.SetLDAPConfig(&second), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    files.failWrites = false;
    EXPECT_EQ(tqtest::ReadFileText(folder / CSqlLiteUL::kSettingsFile), saved);
    EXPECT_EQ(Read(), "srv|acct|pw|ou=x");
}

} // namespace
