// The browser without a directory server: the local computer's accounts.
#include "platform/directory/ComputerName.h"
#include "platform/directory/DirectoryErrors.h"
#include "server/storage/lists/ADsBrowser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool Holds(const std::vector<DirectoryEntry>& list, const std::u16string& name, const std::u16string& path)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const DirectoryEntry& e) { return e.name == name && e.path == path; });
}

class BrowserOverLocalAccounts : public ::testing::Test {
protected:
    void SetUp() override
    {
        browser_.SetConfig("", "ignored", "ignored", "ignored");
        computer_ = u"WinNT://" + CADsBrowser::WidenText(LocalComputerName());
    }
    HRESULT Enumerate(const std::string& path)
    {
        containers_.clear(), groups_.clear(), users_.clear(), computers_.clear();
        return browser_.EnumerateLdapContainer(path.c_str(), containers_, groups_, users_, computers_);
    }

    CADsBrowser browser_;
    std::u16string computer_;
    std::vector<DirectoryEntry> containers_, groups_, users_, computers_;
};

} // namespace

TEST_F(BrowserOverLocalAccounts, EmptyPathListsThisComputer)
{
    ASSERT_EQ(Enumerate(""), S_OK);
    EXPECT_TRUE(Holds(users_, u"root", computer_ + u"/root,user"));
    EXPECT_TRUE(Holds(groups_, u"root", computer_ + u"/root,group"));
    EXPECT_TRUE(containers_.empty());
    EXPECT_TRUE(computers_.empty());
    EXPECT_FALSE(browser_.IsConnected());
}

TEST_F(BrowserOverLocalAccounts, GroupPathListsItsMembers)
{
    ASSERT_EQ(Enumerate(CADsBrowser::NarrowText(computer_) + "/root,group"), S_OK);
    EXPECT_TRUE(Holds(users_, u"root", computer_ + u"/root,user"));
    EXPECT_TRUE(groups_.empty());
}

TEST_F(BrowserOverLocalAccounts, OtherPathsFail)
{
    EXPECT_EQ(Enumerate(CADsBrowser::NarrowText(computer_) + "/root,user"), E_FAIL);
    EXPECT_EQ(Enumerate("WinNT://no-such-computer-here"), HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
    EXPECT_EQ(Enumerate(CADsBrowser::NarrowText(computer_) + "/no-such-group,group"),
              HRESULT_FROM_WIN32(NERR_GroupNotFound));
    // No server is configured: a directory path must not reach another provider.
    EXPECT_EQ(Enumerate("LDAP://server/dc=x"), E_ADS_BAD_PATHNAME);
    EXPECT_TRUE(users_.empty() && groups_.empty());
}
