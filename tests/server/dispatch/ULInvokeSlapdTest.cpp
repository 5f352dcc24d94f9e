// Directory browsing through the user-list handlers against a real LDAP
// server: the settings go in with code 2033, containers are listed with 2031.
#include "server/shared/LdapConfigRecord.h"
#include "tests/server/dispatch/ULTestSupport.h"
#include "tests/support/SlapdServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

using namespace dispatchtest;
using tqtest::SlapdServer;

constexpr const char* kSales = "ou=Sales,dc=example,dc=test";

class ULBrowseTest : public ULHandlersTestOn<tqtest::SlapdTest> {
protected:
    // Code 2033 with the settings; answers the call's result.
    HRESULT Configure(const std::string& password, const std::string& container = kSales)
    {
        LdapConfigRecord settings;
        settings.Clear();
        LdapConfigRecord::SetField(settings.server, slapd_.Server());
        LdapConfigRecord::SetField(settings.account, SlapdServer::kAdminDn);
        LdapConfigRecord::SetField(settings.password, password);
        LdapConfigRecord::SetField(settings.container, container);
        auto r = Call(2033, {}, [&](CInvokeData& rec) { rec.PushInBytes(&settings, sizeof settings); });
        return r->result;
    }

    // Names by tag, and each entry's tag, from one code 2031 answer.
    struct Listing {
        std::map<DWORD, std::set<std::string>> names;
        std::vector<DWORD> tags;
        std::map<std::string, std::string> paths;
    };
    static Listing Parse(const std::vector<std::string>& entries)
    {
        Listing out;
        for (const std::string& e : entries) {
            const size_t first = e.find(':');
            const size_t second = e.find(':', first + 1);
            const DWORD tag = static_cast<DWORD>(std::stoul(e.substr(0, first)));
            const std::string name = e.substr(first + 1, second - first - 1);
            out.tags.push_back(tag);
            out.names[tag].insert(name);
            out.paths[name] = e.substr(second + 1);
        }
        return out;
    }

    // Whether any log record so far shows the text.
    bool Logged(const std::string& text)
    {
        auto records = log.Records();
        return std::any_of(records.begin(), records.end(),
                           [&](const LogRecord& r) { return r.message.find(text) != std::string::npos; });
    }
};

TEST_F(ULBrowseTest, ConfiguredContainerListsUsersComputersGroupsContainers)
{
    ASSERT_EQ(Configure(SlapdServer::kAdminPassword), S_OK);
    const std::string shown = "SetLDAPConfig(" + slapd_.Server() + "," + kSales + "," + SlapdServer::kAdminDn + ",*****)";
    ExpectBeginEnd(2033, "OnSetLDAPConfig", shown, 949, shown, S_OK, 953);

    auto r = Call(2031, {""});
    ASSERT_EQ(r->result, S_OK);
    const Listing listing = Parse(FlatEntries(OutBytes(*r)));
    EXPECT_EQ(listing.names.at(2), (std::set<std::string>{"Bob Jones", "asmith", "carol"}));
    EXPECT_EQ(listing.names.at(1), (std::set<std::string>{"WS01"}));
    EXPECT_EQ(listing.names.at(3), (std::set<std::string>{"Admins", "Auditors", "Ops", "Staff"}));
    EXPECT_EQ(listing.names.at(5), (std::set<std::string>{"East", "Machines"}));
    // Users first, then computers, groups and containers.
    std::vector<DWORD> order = listing.tags;
    order.erase(std::unique(order.begin(), order.end()), order.end());
    EXPECT_EQ(order, (std::vector<DWORD>{2, 1, 3, 5}));
    EXPECT_EQ(listing.paths.at("asmith"), slapd_.Path(std::string("cn=Alice Smith,") + kSales));
    EXPECT_EQ(listing.paths.at("WS01"), slapd_.Path(std::string("cn=WS01,") + kSales));
    ExpectBeginEnd(2031, "OnEnumerateNetworkContainerObjects", "EnumerateNetworkContainerObjects()", 883,
                   "EnumerateNetworkContainerObjects() = 10 objects", S_OK, 904);

    // A group's path lists its members.
    const std::string staff = slapd_.Path(std::string("cn=Staff,") + kSales);
    r = Call(2031, {staff});
    ASSERT_EQ(r->result, S_OK);
    const Listing members = Parse(FlatEntries(OutBytes(*r)));
    EXPECT_EQ(members.names.at(2), (std::set<std::string>{"Bob Jones", "asmith"}));
    EXPECT_EQ(members.names.at(1), (std::set<std::string>{"WS01"}));
    EXPECT_EQ(members.names.size(), 2u);
}

TEST_F(ULBrowseTest, WrongPasswordGivesTheBindFailure)
{
    ASSERT_EQ(Configure("wrong"), S_OK);
    log.Clear();
    auto r = Call(2031, {""});
    EXPECT_EQ(r->result, static_cast<HRESULT>(0x8007052Eu));
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{0, 0, 0, 0}));
    ExpectBeginEnd(2031, "OnEnumerateNetworkContainerObjects", "EnumerateNetworkContainerObjects()", 883,
                   "EnumerateNetworkContainerObjects() = 0 objects", static_cast<HRESULT>(0x8007052Eu), 904);

    // The right password, set again, binds anew.
    ASSERT_EQ(Configure(SlapdServer::kAdminPassword), S_OK);
    r = Call(2031, {slapd_.Path("ou=Empty,dc=example,dc=test")});
    EXPECT_EQ(r->result, S_OK); // an empty container is an empty list
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{0, 0, 0, 0}));
}

TEST_F(ULBrowseTest, SettingsComeBackWithThePasswordAndStayOutOfTheLog)
{
    ASSERT_EQ(Configure(SlapdServer::kAdminPassword), S_OK);
    log.Clear();
    auto r = Call(2032);
    ASSERT_EQ(r->result, S_OK);
    const std::vector<BYTE> bytes = OutBytes(*r);
    ASSERT_EQ(bytes.size(), sizeof(LdapConfigRecord));
    LdapConfigRecord settings;
    std::memcpy(&settings, bytes.data(), sizeof settings);
    EXPECT_EQ(LdapConfigRecord::FieldText(settings.server), slapd_.Server());
    EXPECT_EQ(LdapConfigRecord::FieldText(settings.account), SlapdServer::kAdminDn);
    EXPECT_EQ(LdapConfigRecord::FieldText(settings.password), SlapdServer::kAdminPassword);
    EXPECT_EQ(LdapConfigRecord::FieldText(settings.container), kSales);
    // Every byte after each text is zero.
    EXPECT_EQ(bytes[520 + 6], 0);
    EXPECT_EQ(bytes[1039], 0);
    const std::string shown = "GetLDAPConfig(" + slapd_.Server() + "," + kSales + "," + SlapdServer::kAdminDn + ",*****)";
    ExpectBeginEnd(2032, "OnGetLDAPConfig", "GetLDAPConfig()", 923, shown, S_OK, 930);

    // Handlers made anew over the same folder, as at the next start, browse
    // with the saved settings.
    CULInvokeImpl restarted;
    restarted.SetUp(&log, &files, kUserListKeepOpen);
    CInvokeData list(2031);
    list.PushInString("");
    ASSERT_EQ(restarted.Dispatch(&list), S_OK);
    EXPECT_EQ(list.result, S_OK);
    EXPECT_EQ(FlatEntries(OutBytes(list)).size(), 10u);
    EXPECT_FALSE(Logged(SlapdServer::kAdminPassword));
}

} // namespace
