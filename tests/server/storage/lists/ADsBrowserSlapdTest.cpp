// The browser against a real LDAP server.
#include "platform/directory/DirectoryErrors.h"
#include "server/storage/lists/ADsBrowser.h"
#include "tests/support/SlapdServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using tqtest::SlapdServer;

// Narrow names, sorted, so that the server's order does not matter.
std::vector<std::string> Names(const std::vector<DirectoryEntry>& list)
{
    std::vector<std::string> out;
    for (const DirectoryEntry& e : list)
        out.push_back(CADsBrowser::NarrowText(e.name));
    std::sort(out.begin(), out.end());
    return out;
}

std::string PathOf(const std::vector<DirectoryEntry>& list, const std::u16string& name)
{
    for (const DirectoryEntry& e : list)
        if (e.name == name)
            return CADsBrowser::NarrowText(e.path);
    return {};
}

class BrowserOverLdap : public tqtest::SlapdTest {
protected:
    void Configure(const std::string& password = SlapdServer::kAdminPassword, const std::string& container = kSales)
    {
        browser_.SetConfig(slapd_.Server().c_str(), SlapdServer::kAdminDn, password.c_str(), container.c_str());
    }
    HRESULT Enumerate(const std::string& path = "")
    {
        containers_.clear(), groups_.clear(), users_.clear(), computers_.clear();
        return browser_.EnumerateLdapContainer(path.c_str(), containers_, groups_, users_, computers_);
    }

    static constexpr const char* kSales = "ou=Sales,dc=example,dc=test";
    CADsBrowser browser_;
    std::vector<DirectoryEntry> containers_, groups_, users_, computers_;
};

} // namespace

TEST_F(BrowserOverLdap, ConfiguredContainerSortsItsObjects)
{
    Configure();
    ASSERT_EQ(Enumerate(), S_OK);
    EXPECT_TRUE(browser_.IsConnected());
    EXPECT_EQ(Names(containers_), (std::vector<std::string>{"East", "Machines"}));
    EXPECT_EQ(Names(groups_), (std::vector<std::string>{"Admins", "Auditors", "Ops", "Staff"}));
    // A user account by its account name, an inetOrgPerson and a posix
    // account without one by their relative names.
    EXPECT_EQ(Names(users_), (std::vector<std::string>{"Bob Jones", "asmith", "carol"}));
    EXPECT_EQ(Names(computers_), (std::vector<std::string>{"WS01"}));
    EXPECT_EQ(PathOf(users_, u"asmith"), slapd_.Path(std::string("cn=Alice Smith,") + kSales));
    EXPECT_EQ(PathOf(computers_, u"WS01"), slapd_.Path(std::string("cn=WS01,") + kSales));
    EXPECT_EQ(PathOf(containers_, u"East"), slapd_.Path(std::string("ou=East,") + kSales));
}

TEST_F(BrowserOverLdap, GroupPathsListTheirMembers)
{
    Configure();
    ASSERT_EQ(Enumerate(slapd_.Path(std::string("cn=Staff,") + kSales)), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::string>{"Bob Jones", "asmith"}));
    EXPECT_EQ(Names(computers_), (std::vector<std::string>{"WS01"}));
    EXPECT_TRUE(groups_.empty() && containers_.empty());

    ASSERT_EQ(Enumerate(slapd_.Path(std::string("cn=Admins,") + kSales)), S_OK);
    EXPECT_EQ(Names(groups_), (std::vector<std::string>{"Staff"}));

    ASSERT_EQ(Enumerate(slapd_.Path(std::string("cn=Ops,") + kSales)), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::string>{"carol"}));
}

TEST_F(BrowserOverLdap, ListedPathsOpenAgainAsNarrowText)
{
    Configure();
    ASSERT_EQ(Enumerate(), S_OK);
    std::string east = PathOf(containers_, u"East");
    ASSERT_EQ(Enumerate(east), S_OK);
    EXPECT_EQ(Names(containers_), (std::vector<std::string>{"North/South"}));
    // The directory's UTF-8 reaches the narrow side as Latin-1, and back.
    EXPECT_EQ(Names(users_), (std::vector<std::string>{"j\xfcrgen"}));
    std::string jurgen = CADsBrowser::NarrowText(users_.at(0).path);
    EXPECT_EQ(jurgen, slapd_.Path(std::string("cn=J\xfcrgen M\xfcller,ou=East,") + kSales));
    std::vector<DirectoryAttributeValue> values;
    ASSERT_EQ(browser_.ReadObjectAttributes(jurgen.c_str(), values), S_OK);
    bool found = std::any_of(values.begin(), values.end(), [](const DirectoryAttributeValue& v) {
        return v.attribute == u"sn" && v.value == u"Mueller";
    });
    EXPECT_TRUE(found);

    std::string slashed = PathOf(containers_, u"North/South");
    EXPECT_EQ(slashed, slapd_.Path(std::string("cn=North\\/South,ou=East,") + kSales));
    EXPECT_EQ(Enumerate(slashed), E_OUTOFMEMORY); // opened, and empty
}

TEST_F(BrowserOverLdap, EmptyContainerIsOutOfMemoryWithEmptyLists)
{
    Configure();
    EXPECT_EQ(Enumerate(slapd_.Path("ou=Empty,dc=example,dc=test")), E_OUTOFMEMORY);
    EXPECT_TRUE(containers_.empty() && groups_.empty() && users_.empty() && computers_.empty());
}

TEST_F(BrowserOverLdap, ServerWithoutContainerListsTheNamingContext)
{
    Configure(SlapdServer::kAdminPassword, "");
    ASSERT_EQ(browser_.Connect(), S_OK);
    ASSERT_EQ(Enumerate(), S_OK);
    EXPECT_EQ(Names(containers_), (std::vector<std::string>{"Empty", "Sales"}));
}

TEST_F(BrowserOverLdap, ConnectReadsTheBoundObject)
{
    Configure();
    EXPECT_FALSE(browser_.IsConnected());
    ASSERT_EQ(browser_.Connect(), S_OK);
    EXPECT_TRUE(browser_.IsConnected());
    std::vector<DirectoryAttributeValue> values;
    ASSERT_EQ(browser_.ReadObjectAttributes("", values), S_OK);
    bool found = std::any_of(values.begin(), values.end(), [](const DirectoryAttributeValue& v) {
        return v.attribute == u"objectClass" && v.value == u"organizationalUnit";
    });
    EXPECT_TRUE(found);
}

TEST_F(BrowserOverLdap, WrongPasswordFailsTheBindUntilTheSettingsAreMended)
{
    Configure("wrong");
    EXPECT_EQ(static_cast<DWORD>(Enumerate()), 0x8007052Eu);
    EXPECT_FALSE(browser_.IsConnected());
    EXPECT_TRUE(users_.empty());
    EXPECT_EQ(static_cast<DWORD>(browser_.Connect()), 0x8007052Eu);
    Configure();
    EXPECT_EQ(Enumerate(), S_OK);
}

TEST_F(BrowserOverLdap, MissingContainerIsNoSuchObject)
{
    // Configured: the bind itself opens the missing container.
    Configure(SlapdServer::kAdminPassword, "ou=Nowhere,dc=example,dc=test");
    EXPECT_EQ(static_cast<DWORD>(Enumerate()), 0x80072030u);
    // Asked for after a good bind.
    Configure();
    EXPECT_EQ(static_cast<DWORD>(Enumerate(slapd_.Path("ou=Nowhere,dc=example,dc=test"))), 0x80072030u);
    EXPECT_TRUE(browser_.IsConnected());
    // A user is no container.
    EXPECT_EQ(Enumerate(slapd_.Path(std::string("cn=Alice Smith,") + kSales)), E_NOINTERFACE);
    EXPECT_EQ(Enumerate("LDAP://"), E_ACCESSDENIED);
}

TEST_F(BrowserOverLdap, ServerThatGoesAwayIsServerDown)
{
    Configure();
    ASSERT_EQ(Enumerate(), S_OK);
    slapd_.Stop();
    EXPECT_EQ(static_cast<DWORD>(Enumerate()), 0x8007203Au);
}

// A bounded wait is what this shows; the bound is generous.
TEST(BrowserDeadServer, FailsFastAsServerDown)
{
    CADsBrowser browser;
    std::string server = "127.0.0.1:" + std::to_string(tqtest::FreeTcpPort());
    browser.SetConfig(server.c_str(), "cn=admin", "pw", "dc=example,dc=test");
    std::vector<DirectoryEntry> a, b, c, d;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(static_cast<DWORD>(browser.EnumerateLdapContainer("", a, b, c, d)), 0x8007203Au);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(browser.IsConnected());
}
