// The user-list handlers through their dispatcher, over a real database.
#include "server/shared/LdapConfigRecord.h"
#include "tests/server/dispatch/ULTestSupport.h"
#include "tests/server/storage/lists/ListsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace dispatchtest;

class ULInvokeTest : public ULHandlersTest {
protected:
    std::string Query(const std::string& sql) const { return liststest::QueryText(folder / "userlist.fdb", sql); }
};

TEST_F(ULInvokeTest, LoadAtStartIsLoggedWithTheNilCaller)
{
    CULInvokeImpl fresh;
    fresh.SetUp(&log, &files, kUserListKeepOpen);
    CInvokeData load(2001);
    load.PushInString("userlist.fdb");
    EXPECT_EQ(fresh.Dispatch(&load), S_OK);
    EXPECT_EQ(load.result, S_OK);
    EXPECT_EQ(load.OutCount(), 0u);
    ExpectBeginEnd(2001, "OnLoad", "Load(userlist.fdb)", 191, "Load(userlist.fdb)", S_OK, 196);
}

TEST_F(ULInvokeTest, EveryPlainHandlerLogsItsNamesAndLines)
{
    struct Case {
        DWORD code;
        std::vector<std::string> names;
        const char* function;
        const char* text;
        int beginLine;
        HRESULT result;
    };
    // In this order on one list; every end record comes five lines after its
    // begin record and repeats its text.
    const Case cases[] = {
        {2012, {"Sales"}, "OnCreateTessaryGroup", "CreateTessaryGroup(Sales)", 389, S_OK},
        {2004, {"alice"}, "OnCreateUser", "CreateUser(alice)", 285, S_OK},
        {2006, {"PC1"}, "OnCreateComputer", "CreateComputer(PC1)", 337, S_OK},
        {2014, {"Sales", "alice"}, "OnAddUserToTessaryGroup", "AddUserToTessaryGroup(Sales,alice)", 442, S_OK},
        {2016, {"Sales", "PC1"}, "OnAddComputerToTessaryGroup", "AddComputerToTessaryGroup(Sales,PC1)", 498, S_OK},
        {2018, {"Sales", "Marketing"}, "OnRenameTessaryGroup", "RenameTessaryGroup(Sales,Marketing)", 554, S_OK},
        {2027, {"Marketing"}, "OnSetDefaultGroup", "SetDefaultGroup(Marketing)", 858, S_OK},
        {2027, {"Nowhere"}, "OnSetDefaultGroup", "SetDefaultGroup(Nowhere)", 858, E_INVALIDARG},
        {2015, {"Marketing", "alice"}, "OnRemoveUserFromTessaryGroup", "RemoveUserFromTessaryGroup(Marketing,alice)",
         470, S_OK},
        {2017, {"Marketing", "PC1"}, "OnRemoveComputerFromTessaryGroup",
         "RemoveComputerFromTessaryGroup(Marketing,PC1)", 526, S_OK},
        {2004, {"bob"}, "OnCreateUser", "CreateUser(bob)", 285, S_OK},
        {2005, {"bob"}, "OnDeleteUser", "DeleteUser(bob)", 310, S_OK},
        {2006, {"PC2"}, "OnCreateComputer", "CreateComputer(PC2)", 337, S_OK},
        {2007, {"PC2"}, "OnDeleteComputer", "DeleteComputer(PC2)", 362, S_OK},
        {2013, {"Default"}, "OnDeleteTessaryGroup", "DeleteTessaryGroup(Default)", 414, S_OK},
        {2028, {}, "OnRevertChanges", "RevertChanges", 237, E_NOTIMPL},
        {2002, {"userlist.fdb"}, "OnSave", "Save(userlist.fdb)", 216, S_OK},
        {2003, {}, "OnClose", "Close", 258, S_OK},
    };
    const GUID caller = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    for (const Case& c : cases) {
        auto r = Call(c.code, c.names, [&](CInvokeData& rec) { rec.callerGuid = caller; });
        EXPECT_EQ(r->result, c.result) << c.text;
        EXPECT_EQ(r->OutCount(), 0u) << c.text;
        ExpectBeginEnd(c.code, c.function, c.text, c.beginLine, c.text, c.result, c.beginLine + 5,
                       "12345678-9abc-def0-0102-030405060708");
    }
    EXPECT_EQ(Query("SELECT group_concat(group_name || '=' || is_default) FROM wl_groups"), "Marketing=1");
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users") + Query("SELECT count(*) FROM wl_computers"), "00");
}

TEST_F(ULInvokeTest, NamesAreCutTo259CharactersAndMissingOnesAreEmpty)
{
    const std::string longName(300, 'u');
    auto r = Call(2004, {longName});
    EXPECT_EQ(r->result, S_OK);
    EXPECT_EQ(Query("SELECT length(user_name) FROM wl_users"), "259");
    log.Clear();

    r = Call(2004);
    EXPECT_EQ(r->result, E_INVALIDARG);
    ExpectBeginEnd(2004, "OnCreateUser", "CreateUser()", 285, "CreateUser()", E_INVALIDARG, 290);
}

TEST_F(ULInvokeTest, NamesWithQuotesPassThroughUnchanged)
{
    Call(2012, {"Bob's"});
    Call(2014, {"Bob's", "O'Brien"});
    log.Clear();
    auto r = Call(2030, {"O'Brien"});
    EXPECT_EQ(r->result, S_OK);
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{1}));
    EXPECT_EQ(OutString(*r), "Bob's");
    ExpectBeginEnd(2030, "OnIsUserInTessaryGroup", "IsUserInTessaryGroup(O'Brien)", 583,
                   "IsUserInTessaryGroup(O'Brien) = Yes: Bob's", S_OK, 591);
}

TEST_F(ULInvokeTest, EnumerationsSendFlatListsAndCountThem)
{
    EXPECT_TRUE(Listed(2019).empty());
    auto r = Call(2019);
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{0, 0, 0, 0}));
    ExpectBeginEnd(2019, "OnEnumerateUsers", "EnumerateUsers()", 641, "EnumerateUsers() = 0 users", S_OK, 662);

    Call(2012, {"Sales"});
    Call(2014, {"Sales", "bob"});
    Call(2004, {"alice"});
    Call(2016, {"Sales", "ab"});
    log.Clear();
    EXPECT_EQ(Listed(2019), (std::vector<std::string>{"2:alice:", "2:bob:"}));
    EXPECT_EQ(Listed(2020), (std::vector<std::string>{"1:ab:"}));
    EXPECT_EQ(Listed(2022), (std::vector<std::string>{"4:Default:", "4:Sales:"}));
    EXPECT_EQ(Listed(2024, {"Sales"}), (std::vector<std::string>{"1:ab:", "2:bob:"}));

    // An entry "ab" without a second text takes 4 + 4 + 3 + 4 + 1 bytes.
    r = Call(2020);
    EXPECT_EQ(OutBytes(*r).size(), 4u + 16u);
    ExpectBeginEnd(2020, "OnEnumerateComputers", "EnumerateComputers()", 678, "EnumerateComputers() = 1 computers",
                   S_OK, 699);
    Call(2022);
    ExpectBeginEnd(2022, "OnEnumerateTessaryGroups", "EnumerateTessaryGroups()", 716,
                   "EnumerateTessaryGroups() = 2 groups", S_OK, 737);
    Call(2024, {"Sales"});
    ExpectBeginEnd(2024, "OnEnumerateTessaryGroupMembers", "EnumerateTessaryGroupMembers(Sales)", 757,
                   "EnumerateTessaryGroupMembers(Sales) = 2 members", S_OK, 778);
}

TEST_F(ULInvokeTest, ListsLongerOrShorterThanTheLastOneSentComeWhole)
{
    // The room made for a list follows the last one sent: a list that grew
    // well past it, one that shrank, and an empty one all come whole.
    Call(2004, {"first"});
    EXPECT_EQ(Listed(2019).size(), 1u);
    std::vector<std::string> expected{"2:first:"};
    for (int i = 0; i < 500; ++i) {
        const std::string name = "user" + std::string(i % 70, 'x') + std::to_string(1000 + i);
        Call(2004, {name});
        expected.push_back("2:" + name + ":");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Listed(2019), expected);
    for (int i = 0; i < 500; ++i)
        Call(2005, {"user" + std::string(i % 70, 'x') + std::to_string(1000 + i)});
    EXPECT_EQ(Listed(2019), (std::vector<std::string>{"2:first:"}));
    Call(2005, {"first"});
    EXPECT_TRUE(Listed(2019).empty());
    auto r = Call(2019);
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{0, 0, 0, 0}));
}

TEST_F(ULInvokeTest, FailedEnumerationStillSendsAnEmptyList)
{
    CULInvokeImpl closing;
    closing.SetUp(&log, &files, 0);
    CInvokeData load(2001);
    load.PushInString("userlist.fdb");
    ASSERT_EQ(closing.Dispatch(&load), S_OK);
    CInvokeData close(2003);
    ASSERT_EQ(closing.Dispatch(&close), S_OK);
    log.Clear();

    CInvokeData r(2019);
    EXPECT_EQ(closing.Dispatch(&r), S_OK);
    EXPECT_EQ(r.result, E_INVALIDARG);
    EXPECT_EQ(OutBytes(r), (std::vector<BYTE>{0, 0, 0, 0}));
    ExpectBeginEnd(2019, "OnEnumerateUsers", "EnumerateUsers()", 641, "EnumerateUsers() = 0 users", E_INVALIDARG,
                   662);

    // The value handlers send their empty values with the failure.
    CInvokeData equiv(2025);
    equiv.PushInString("alice");
    equiv.PushInString("PC1");
    EXPECT_EQ(closing.Dispatch(&equiv), S_OK);
    EXPECT_EQ(equiv.result, E_INVALIDARG);
    EXPECT_EQ(OutString(equiv), "");
    EXPECT_EQ(OutBytes(equiv), (std::vector<BYTE>{0, 0, 0, 0}));
    ExpectBeginEnd(2025, "OnGetSecurityEquiv", "GetSecurityEquiv(alice,PC1)", 803,
                   "GetSecurityEquiv(alice,PC1) =  (Default)", E_INVALIDARG, 814);
}

TEST_F(ULInvokeTest, SecurityEquivalenceSendsGroupAndKind)
{
    auto r = Call(2025, {"nobody", "pc9"});
    EXPECT_EQ(r->result, S_OK);
    EXPECT_EQ(OutString(*r), "Default");
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{3, 0, 0, 0}));
    ExpectBeginEnd(2025, "OnGetSecurityEquiv", "GetSecurityEquiv(nobody,pc9)", 803,
                   "GetSecurityEquiv(nobody,pc9) = Default (Default)", S_OK, 814);

    Call(2012, {"Machines"});
    Call(2012, {"People"});
    Call(2016, {"Machines", "PC1"});
    Call(2014, {"People", "alice"});
    log.Clear();
    r = Call(2025, {"alice", "PC1"});
    EXPECT_EQ(OutString(*r), "Machines");
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(log.Records().at(1).message, "GetSecurityEquiv(alice,PC1) = Machines (Computer)");
    log.Clear();
    r = Call(2025, {"alice", "PC2"});
    EXPECT_EQ(OutString(*r), "People");
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{2, 0, 0, 0}));
    EXPECT_EQ(log.Records().at(1).message, "GetSecurityEquiv(alice,PC2) = People (User)");
}

TEST_F(ULInvokeTest, DefaultGroupAndMembershipAnswers)
{
    auto r = Call(2026);
    EXPECT_EQ(r->result, S_OK);
    EXPECT_EQ(OutString(*r), "Default");
    ExpectBeginEnd(2026, "OnGetDefaultGroup", "GetDefaultGroup()", 830, "GetDefaultGroup() = Default", S_OK, 838);

    r = Call(2029, {"PCX"});
    EXPECT_EQ(r->result, S_OK);
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{0}));
    EXPECT_EQ(OutString(*r), "");
    ExpectBeginEnd(2029, "OnIsComputerInTessaryGroup", "IsComputerInTessaryGroup(PCX)", 615,
                   "IsComputerInTessaryGroup(PCX) = No: ", S_OK, 623);

    Call(2006, {"PCX"});
    log.Clear();
    r = Call(2029, {"pcx"});
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{1}));
    EXPECT_EQ(OutString(*r), "Default");
    ExpectBeginEnd(2029, "OnIsComputerInTessaryGroup", "IsComputerInTessaryGroup(pcx)", 615,
                   "IsComputerInTessaryGroup(pcx) = Yes: Default", S_OK, 623);

    r = Call(2030, {"nobody"});
    EXPECT_EQ(OutBytes(*r), (std::vector<BYTE>{0}));
    EXPECT_EQ(OutString(*r), "");
    ExpectBeginEnd(2030, "OnIsUserInTessaryGroup", "IsUserInTessaryGroup(nobody)", 583,
                   "IsUserInTessaryGroup(nobody) = No: ", S_OK, 591);

    // Without a default group the answer is a failure with an empty name.
    Call(2013, {"Default"});
    log.Clear();
    r = Call(2026);
    EXPECT_EQ(r->result, E_FAIL);
    EXPECT_EQ(OutString(*r), "");
    ExpectBeginEnd(2026, "OnGetDefaultGroup", "GetDefaultGroup()", 830, "GetDefaultGroup() = ", E_FAIL, 838);
}

TEST_F(ULInvokeTest, CodesWithoutAHandlerAreNotImplemented)
{
    for (DWORD code : {2000u, 2008u, 2009u, 2010u, 2011u, 2021u, 2023u, 2034u, 2999u, 4007u}) {
        CInvokeData r(code);
        r.PushInString("alice");
        EXPECT_EQ(handlers.Dispatch(&r), E_NOTIMPL) << code;
        EXPECT_EQ(r.result, E_NOTIMPL);
        EXPECT_EQ(r.InCount(), 1u);
        EXPECT_EQ(r.OutCount(), 0u);
    }
    EXPECT_TRUE(log.Records().empty());
    EXPECT_EQ(handlers.Dispatch(nullptr), E_INVALIDARG);
}

TEST_F(ULInvokeTest, ExceptionBeforeTheStoreCallLeavesTheResult)
{
    ThrowOnKinds(log, {0});
    CInvokeData r(2004);
    r.PushInString("alice");
    EXPECT_EQ(handlers.Dispatch(&r), E_UNEXPECTED);
    EXPECT_EQ(r.result, E_FAIL); // not written
    ExpectExceptionOnly(log, "CreateUser", "CULInvokeImpl::OnCreateUser", 295);
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users"), "0");
}

TEST_F(ULInvokeTest, ExceptionAfterTheStoreCallKeepsBeginAndOutItems)
{
    ThrowOnKinds(log, {1});
    CInvokeData r(2004);
    r.PushInString("alice");
    EXPECT_EQ(handlers.Dispatch(&r), E_UNEXPECTED);
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].kind, 0);
    EXPECT_EQ(records[0].line, 285);
    EXPECT_EQ(records[1].kind, 2);
    EXPECT_EQ(records[1].message, "CreateUser");
    EXPECT_EQ(records[1].line, 295);
    log.Clear();

    // Exception lines of the other kinds of handler.
    const struct {
        DWORD code;
        const char* operation;
        int line;
        size_t outItems;
    } cases[] = {{2019, "EnumerateUsers", 667, 1},        {2024, "EnumerateTessaryGroupMembers", 783, 1},
                 {2031, "EnumerateNetworkContainerObjects", 909, 1}, {2025, "GetSecurityEquiv", 819, 2},
                 {2026, "GetDefaultGroup", 843, 1},       {2029, "IsComputerInTessaryGroup", 628, 2},
                 {2030, "IsUserInTessaryGroup", 596, 2},  {2032, "GetLDAPConfig", 935, 1},
                 {2033, "SetLDAPConfig", 958, 0},         {2001, "Load", 201, 0},
                 {2002, "Save", 226, 0},                  {2003, "Close", 268, 0},
                 {2028, "RevertChanges", 247, 0},         {2018, "RenameTessaryGroup", 564, 0}};
    for (const auto& c : cases) {
        CInvokeData call(c.code);
        call.PushInString("x");
        call.PushInString("y");
        EXPECT_EQ(handlers.Dispatch(&call), E_UNEXPECTED) << c.operation;
        EXPECT_EQ(call.OutCount(), c.outItems) << c.operation;
        records = log.Records();
        ASSERT_EQ(records.size(), 2u) << c.operation;
        EXPECT_EQ(records[1].kind, 2);
        EXPECT_EQ(records[1].message, c.operation);
        EXPECT_EQ(records[1].function, std::string("CULInvokeImpl::On") + c.operation);
        EXPECT_EQ(records[1].line, c.line) << c.operation;
        log.Clear();
    }
}

TEST(ULInvokeWithoutStore, EveryHandlerFails)
{
    CULInvokeImpl handlers;
    for (DWORD code : {2001u, 2004u, 2019u, 2032u}) {
        CInvokeData r(code);
        EXPECT_EQ(handlers.Dispatch(&r), E_UNEXPECTED) << code;
        EXPECT_EQ(r.result, E_FAIL);
    }
}

TEST_F(ULInvokeTest, BusyListAnswersAbortWithoutARecord)
{
    CULInvokeImpl busy(std::chrono::milliseconds(150));
    busy.SetUp(&log, &files, kUserListKeepOpen);
    // One call holds the handlers' lock inside its begin record...
    BeginRecordGate gate(log);
    std::thread holder([&] {
        CInvokeData r(2001);
        r.PushInString("userlist.fdb");
        EXPECT_EQ(busy.Dispatch(&r), S_OK);
        EXPECT_EQ(r.result, S_OK);
    });
    ASSERT_TRUE(gate.WaitInside());
    // ...so another call gives up after the lock wait.
    CInvokeData second(2004);
    second.PushInString("alice");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(busy.Dispatch(&second), E_ABORT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(140));
    EXPECT_EQ(second.result, E_FAIL);
    EXPECT_EQ(second.InCount(), 1u);
    EXPECT_EQ(second.OutCount(), 0u);
    EXPECT_TRUE(log.Records().empty()); // the holder's begin record is not yet kept either
    gate.Release();
    holder.join();
    auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "Load(userlist.fdb)");
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users"), "0");
    EXPECT_EQ(CULInvokeImpl::kLockWait, std::chrono::milliseconds(50000));
}

TEST_F(ULInvokeTest, CallsOfOneServerRunOneAtATime)
{
    // Each call's begin and end record stay together, whatever the threads.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                CInvokeData r(2004);
                r.PushInString(("u" + std::to_string(t) + "_" + std::to_string(i)).c_str());
                EXPECT_EQ(handlers.Dispatch(&r), S_OK);
            }
        });
    for (auto& th : threads)
        th.join();
    auto records = log.Records();
    ASSERT_EQ(records.size(), 160u);
    for (size_t i = 0; i < records.size(); i += 2) {
        EXPECT_EQ(records[i].kind, 0);
        EXPECT_EQ(records[i + 1].kind, 1);
        EXPECT_EQ(records[i].message, records[i + 1].message);
    }
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users"), "80");
}

} // namespace
