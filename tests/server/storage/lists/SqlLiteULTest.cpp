// The user-list store over a real database file in a fresh folder.
#include "server/storage/lists/SqlLiteUL.h"

#include "server/shared/FlatNameList.h"
#include "server/shared/SecurityEquivKind.h"
#include "server/dispatch/WinFileImpl.h"
#include "tests/server/storage/lists/ListsTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using liststest::QueryText;

// "tag:name" per entry, in list order.
std::vector<std::string> Entries(const HeapNameList& list)
{
    std::vector<std::string> out;
    for (const HeapNameEntry& e : list)
        out.push_back(std::to_string(e.tag) + ":" + std::string(e.name.c_str()));
    return out;
}

std::vector<BYTE> FlatBytes(const HeapNameList& list)
{
    BYTE* buffer = nullptr;
    DWORD length = 0;
    EXPECT_EQ(FlattenNameList(list, &buffer, &length), S_OK);
    std::vector<BYTE> bytes(buffer, buffer + length);
    FreeFlatBuffer(buffer);
    return bytes;
}

std::vector<BYTE> FlatBytes(FlatNameWriter& writer)
{
    BYTE* buffer = nullptr;
    DWORD length = 0;
    EXPECT_EQ(writer.Release(&buffer, &length), S_OK);
    std::vector<BYTE> bytes(buffer, buffer + length);
    FreeFlatBuffer(buffer);
    return bytes;
}

class UserListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        files.SetFolder(nullptr, folder.Path().c_str());
        Open();
    }

    void Open(DWORD flags = kUserListKeepOpen)
    {
        store = std::make_unique<CSqlLiteUL>(&files, flags);
        ASSERT_EQ(store->Load("userlist.fdb"), S_OK);
    }
    void Reopen(DWORD flags = kUserListKeepOpen)
    {
        store.reset();
        Open(flags);
    }

    std::string Query(const std::string& sql) const { return QueryText(folder / "userlist.fdb", sql); }

    // Each of the three enumerations both ways: the flat one, written as the
    // rows come into a writer that held an entry before, must send exactly
    // what flattening the list sends.
    std::vector<std::string> Enumerated(HRESULT (IUserList::*listed)(HeapNameList&),
                                        HRESULT (IUserList::*written)(FlatNameWriter&))
    {
        HeapNameList list;
        EXPECT_EQ((store.get()->*listed)(list), S_OK);
        FlatNameWriter writer;
        writer.Append(9, "stale");
        EXPECT_EQ((store.get()->*written)(writer), S_OK);
        EXPECT_EQ(FlatBytes(writer), FlatBytes(list));
        return Entries(list);
    }
    std::vector<std::string> Users()
    {
        return Enumerated(&IUserList::EnumerateUsers, &IUserList::EnumerateUsersFlat);
    }
    std::vector<std::string> Computers()
    {
        return Enumerated(&IUserList::EnumerateComputers, &IUserList::EnumerateComputersFlat);
    }
    std::vector<std::string> Groups()
    {
        return Enumerated(&IUserList::EnumerateTessaryGroups, &IUserList::EnumerateTessaryGroupsFlat);
    }
    std::vector<std::string> Members(const char* group)
    {
        HeapNameList list;
        EXPECT_EQ(store->EnumerateTessaryGroupMembers(group, list), S_OK);
        return Entries(list);
    }
    // The member's group, "-" when the member is not listed.
    std::string GroupOfUser(const char* user) { return GroupOf(&IUserList::IsUserInTessaryGroup, user); }
    std::string GroupOfComputer(const char* computer)
    {
        return GroupOf(&IUserList::IsComputerInTessaryGroup, computer);
    }
    std::string GroupOf(HRESULT (IUserList::*ask)(const char*, bool*, char*, int), const char* member)
    {
        bool found = true;
        char group[260] = "junk";
        EXPECT_EQ((store.get()->*ask)(member, &found, group, sizeof group), S_OK);
        if (found)
            return group;
        EXPECT_STREQ(group, "");
        return "-";
    }
    std::string DefaultGroup()
    {
        char group[260] = "junk";
        return SUCCEEDED(store->GetDefaultGroup(group, sizeof group)) ? group : "<none>";
    }
    // "<group> (<kind>)" of the security-equivalence answer.
    std::string Equiv(const char* user, const char* computer, HRESULT expected = S_OK)
    {
        char group[260] = "junk";
        DWORD kind = 0;
        EXPECT_EQ(store->GetSecurityEquiv(user, computer, group, sizeof group, &kind), expected);
        return std::string(group) + " (" + SecurityEquivKindText(kind) + ")";
    }

    tqtest::TempFolder folder;
    CWinFileImpl files;
    std::unique_ptr<CSqlLiteUL> store;
};

TEST_F(UserListTest, NewDatabaseHoldsOnlyTheDefaultGroup)
{
    EXPECT_EQ(store->DatabasePath(), folder / "userlist.fdb");
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Default"}));
    EXPECT_EQ(DefaultGroup(), "Default");
    EXPECT_TRUE(Users().empty());
    EXPECT_TRUE(Computers().empty());
    EXPECT_EQ(Query("SELECT group_concat(group_name || '=' || is_default) FROM wl_groups"), "Default=1");
    EXPECT_EQ(Query("SELECT group_concat(name) FROM sqlite_master WHERE type='index' ORDER BY name"),
              "idxuser_name,idxcpu_name");

    // Opening the file again adds nothing.
    ASSERT_EQ(store->CreateUser("alice"), S_OK);
    Reopen();
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Default"}));
    EXPECT_EQ(Users(), (std::vector<std::string>{"2:alice"}));
}

TEST_F(UserListTest, CreationIsCaseBlindAndJoinsTheDefaultGroup)
{
    EXPECT_EQ(store->CreateUser("Alice"), S_OK);
    EXPECT_EQ(store->CreateUser("ALICE"), S_OK);
    EXPECT_EQ(store->CreateComputer("pc1"), S_OK);
    EXPECT_EQ(store->CreateComputer("PC1"), S_OK);
    EXPECT_EQ(store->CreateTessaryGroup("Sales"), S_OK);
    EXPECT_EQ(store->CreateTessaryGroup("sales"), S_OK);
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users"), "1");
    EXPECT_EQ(Users(), (std::vector<std::string>{"2:Alice"}));
    EXPECT_EQ(Computers(), (std::vector<std::string>{"1:pc1"}));
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Default", "4:Sales"}));
    EXPECT_EQ(GroupOfUser("aLiCe"), "Default");
    EXPECT_EQ(GroupOfComputer("Pc1"), "Default");

    // Deletion is case-blind too, and deleting what is not there is no failure.
    EXPECT_EQ(store->DeleteUser("alice"), S_OK);
    EXPECT_EQ(store->DeleteUser("alice"), S_OK);
    EXPECT_EQ(store->DeleteComputer("PC1"), S_OK);
    EXPECT_TRUE(Users().empty());
    EXPECT_TRUE(Computers().empty());
}

TEST_F(UserListTest, EnumerationsSortCaseBlindAndReplaceTheList)
{
    for (const char* u : {"carol", "Bob", "alice"})
        ASSERT_EQ(store->CreateUser(u), S_OK);
    for (const char* c : {"WS2", "ws1"})
        ASSERT_EQ(store->CreateComputer(c), S_OK);
    HeapNameList list;
    list.Append(9, "stale");
    ASSERT_EQ(store->EnumerateUsers(list), S_OK);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"2:alice", "2:Bob", "2:carol"}));
    ASSERT_EQ(store->EnumerateComputers(list), S_OK);
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"1:ws1", "1:WS2"}));
    for (const HeapNameEntry& e : list)
        EXPECT_TRUE(e.second.empty());
    EXPECT_EQ(store->FreeEnumeration(list), S_OK);
    EXPECT_TRUE(list.Empty());
}

TEST_F(UserListTest, MembershipMovesBetweenGroups)
{
    ASSERT_EQ(store->CreateTessaryGroup("Sales"), S_OK);
    ASSERT_EQ(store->CreateTessaryGroup("Ops"), S_OK);
    // A member not yet listed is created on the way.
    EXPECT_EQ(store->AddUserToTessaryGroup("Sales", "alice"), S_OK);
    EXPECT_EQ(store->AddComputerToTessaryGroup("sales", "PC1"), S_OK);
    EXPECT_EQ(GroupOfUser("alice"), "Sales");
    EXPECT_EQ(GroupOfComputer("PC1"), "Sales");

    EXPECT_EQ(store->AddUserToTessaryGroup("Ops", "alice"), S_OK);
    EXPECT_EQ(store->AddComputerToTessaryGroup("Ops", "pc1"), S_OK);
    EXPECT_EQ(GroupOfUser("alice"), "Ops");
    EXPECT_EQ(GroupOfComputer("PC1"), "Ops");
    EXPECT_TRUE(Members("Sales").empty());
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users"), "1");

    // A group that does not exist is refused and changes nothing.
    EXPECT_EQ(store->AddUserToTessaryGroup("Nowhere", "alice"), E_INVALIDARG);
    EXPECT_EQ(store->AddUserToTessaryGroup("Nowhere", "bob"), E_INVALIDARG);
    EXPECT_EQ(store->AddComputerToTessaryGroup("Nowhere", "PC1"), E_INVALIDARG);
    EXPECT_EQ(GroupOfUser("alice"), "Ops");
    EXPECT_EQ(GroupOfUser("bob"), "-");
    EXPECT_EQ(GroupOfComputer("PC1"), "Ops");

    // Removal from another group than the member's does nothing; from its
    // own group it takes the member off the list.
    EXPECT_EQ(store->RemoveUserFromTessaryGroup("Sales", "alice"), S_OK);
    EXPECT_EQ(GroupOfUser("alice"), "Ops");
    EXPECT_EQ(store->RemoveUserFromTessaryGroup("ops", "ALICE"), S_OK);
    EXPECT_EQ(store->RemoveComputerFromTessaryGroup("Ops", "PC1"), S_OK);
    EXPECT_EQ(GroupOfUser("alice"), "-");
    EXPECT_EQ(GroupOfComputer("PC1"), "-");
    EXPECT_TRUE(Users().empty());
}

TEST_F(UserListTest, GroupMembersSortByBytesUsersFirstOnTies)
{
    ASSERT_EQ(store->CreateTessaryGroup("G"), S_OK);
    ASSERT_EQ(store->AddUserToTessaryGroup("G", "b"), S_OK);
    ASSERT_EQ(store->AddComputerToTessaryGroup("G", "a"), S_OK);
    EXPECT_EQ(Members("G"), (std::vector<std::string>{"1:a", "2:b"}));

    ASSERT_EQ(store->AddComputerToTessaryGroup("G", "b"), S_OK);
    ASSERT_EQ(store->AddUserToTessaryGroup("G", "C"), S_OK);
    // Upper case sorts before lower case; the user "b" stays ahead of the
    // computer "b".
    EXPECT_EQ(Members("g"), (std::vector<std::string>{"2:C", "1:a", "2:b", "1:b"}));
    EXPECT_TRUE(Members("Nowhere").empty());
}

TEST_F(UserListTest, DeletingAGroupTakesItsMembers)
{
    ASSERT_EQ(store->CreateTessaryGroup("Sales"), S_OK);
    ASSERT_EQ(store->AddUserToTessaryGroup("Sales", "alice"), S_OK);
    ASSERT_EQ(store->AddComputerToTessaryGroup("Sales", "PC1"), S_OK);
    ASSERT_EQ(store->CreateUser("bob"), S_OK);
    EXPECT_EQ(store->DeleteTessaryGroup("SALES"), S_OK);
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Default"}));
    EXPECT_EQ(Users(), (std::vector<std::string>{"2:bob"}));
    EXPECT_TRUE(Computers().empty());
    EXPECT_EQ(store->DeleteTessaryGroup("Sales"), S_OK);
}

TEST_F(UserListTest, WithoutADefaultGroupNothingNewCanBeCreated)
{
    ASSERT_EQ(store->CreateUser("alice"), S_OK);
    EXPECT_EQ(store->DeleteTessaryGroup("Default"), S_OK);
    EXPECT_EQ(DefaultGroup(), "<none>");
    EXPECT_TRUE(Users().empty());
    // The insert fails on the missing group, and says so.
    EXPECT_EQ(store->CreateUser("bob"), E_FAIL);
    EXPECT_EQ(store->CreateComputer("PC1"), E_FAIL);
    EXPECT_TRUE(Users().empty());
    EXPECT_EQ(Equiv("bob", "PC1", E_FAIL), " (Default)");

    ASSERT_EQ(store->CreateTessaryGroup("Staff"), S_OK);
    EXPECT_EQ(store->AddUserToTessaryGroup("Staff", "bob"), E_FAIL);
    EXPECT_EQ(store->SetDefaultGroup("staff"), S_OK);
    EXPECT_EQ(store->CreateUser("bob"), S_OK);
    EXPECT_EQ(GroupOfUser("bob"), "Staff");
}

TEST_F(UserListTest, DefaultGroupMovesOnlyToAGroupThatExists)
{
    ASSERT_EQ(store->CreateTessaryGroup("Staff"), S_OK);
    EXPECT_EQ(store->SetDefaultGroup("Nowhere"), E_INVALIDARG);
    EXPECT_EQ(DefaultGroup(), "Default");
    EXPECT_EQ(store->SetDefaultGroup("STAFF"), S_OK);
    EXPECT_EQ(DefaultGroup(), "Staff");
    EXPECT_EQ(Query("SELECT count(*) FROM wl_groups WHERE is_default<>0"), "1");
    ASSERT_EQ(store->CreateComputer("PC1"), S_OK);
    EXPECT_EQ(GroupOfComputer("PC1"), "Staff");

    // The answer is cut to the caller's buffer and always terminated.
    char small[4] = "xxx";
    EXPECT_EQ(store->GetDefaultGroup(small, sizeof small), S_OK);
    EXPECT_STREQ(small, "Sta");
    EXPECT_EQ(store->GetDefaultGroup(nullptr, 10), E_INVALIDARG);
}

TEST_F(UserListTest, SecurityEquivalenceAsksComputerThenUserThenDefault)
{
    ASSERT_EQ(store->CreateTessaryGroup("Machines"), S_OK);
    ASSERT_EQ(store->CreateTessaryGroup("People"), S_OK);
    ASSERT_EQ(store->AddComputerToTessaryGroup("Machines", "PC1"), S_OK);
    ASSERT_EQ(store->AddUserToTessaryGroup("People", "alice"), S_OK);
    ASSERT_EQ(store->CreateComputer("PC2"), S_OK);

    EXPECT_EQ(Equiv("alice", "PC1"), "Machines (Computer)");
    EXPECT_EQ(Equiv("alice", "pc9"), "People (User)");
    EXPECT_EQ(Equiv("ALICE", ""), "People (User)");
    // A listed computer in the default group answers with its group.
    EXPECT_EQ(Equiv("alice", "PC2"), "Default (Computer)");
    EXPECT_EQ(Equiv("nobody", "pc9"), "Default (Default)");
    EXPECT_EQ(Equiv("", ""), "Default (Default)");

    char group[260];
    DWORD kind = 0;
    EXPECT_EQ(store->GetSecurityEquiv(nullptr, "PC1", group, sizeof group, &kind), E_INVALIDARG);
    EXPECT_EQ(store->GetSecurityEquiv("alice", "PC1", group, sizeof group, nullptr), E_INVALIDARG);
}

TEST_F(UserListTest, RenameRefusesANameThatAnotherGroupHolds)
{
    ASSERT_EQ(store->CreateTessaryGroup("Sales"), S_OK);
    ASSERT_EQ(store->CreateTessaryGroup("Ops"), S_OK);
    ASSERT_EQ(store->AddUserToTessaryGroup("Sales", "alice"), S_OK);

    EXPECT_EQ(store->RenameTessaryGroup("Ops", "SALES"), E_INVALIDARG);
    EXPECT_EQ(store->RenameTessaryGroup("Ops", "Default"), E_INVALIDARG);
    EXPECT_EQ(store->RenameTessaryGroup("Nowhere", "Other"), E_INVALIDARG);
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Default", "4:Ops", "4:Sales"}));

    // Members and the default flag follow the group to its new name; the
    // group's own name, in any letter case, is taken like any other.
    EXPECT_EQ(store->RenameTessaryGroup("sales", "Marketing"), S_OK);
    EXPECT_EQ(GroupOfUser("alice"), "Marketing");
    EXPECT_EQ(store->RenameTessaryGroup("Marketing", "MARKETING"), E_INVALIDARG);
    EXPECT_EQ(store->RenameTessaryGroup("Marketing", "Marketing"), E_INVALIDARG);
    EXPECT_EQ(store->RenameTessaryGroup("Default", "Everyone"), S_OK);
    EXPECT_EQ(DefaultGroup(), "Everyone");
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Everyone", "4:Marketing", "4:Ops"}));
}

TEST_F(UserListTest, NamesWithQuotesAreStoredAsGiven)
{
    const char* group = "Bob's group";
    const char* user = "O'Brien";
    const char* sneaky = "x' OR '1'='1";
    const char* drop = "a'); DROP TABLE wl_users; --";
    ASSERT_EQ(store->CreateTessaryGroup(group), S_OK);
    EXPECT_EQ(store->AddUserToTessaryGroup(group, user), S_OK);
    EXPECT_EQ(store->AddComputerToTessaryGroup(group, drop), S_OK);
    EXPECT_EQ(store->CreateUser(sneaky), S_OK);
    EXPECT_EQ(GroupOfUser(user), group);
    EXPECT_EQ(GroupOfComputer(drop), group);
    EXPECT_EQ(GroupOfUser(sneaky), "Default");
    EXPECT_EQ(Members(group), (std::vector<std::string>{std::string("2:") + user, std::string("1:") + drop}));
    EXPECT_EQ(Query("SELECT count(*) FROM wl_users"), "2");

    // A quote never widens a statement to other rows.
    EXPECT_EQ(store->DeleteUser(sneaky), S_OK);
    EXPECT_EQ(Users(), (std::vector<std::string>{std::string("2:") + user}));
    EXPECT_EQ(store->DeleteTessaryGroup("x' OR '1'='1"), S_OK);
    EXPECT_EQ(store->RenameTessaryGroup(group, "It's 100% \"new\""), S_OK);
    EXPECT_EQ(GroupOfUser(user), "It's 100% \"new\"");
    EXPECT_EQ(store->SetDefaultGroup("It's 100% \"new\""), S_OK);
    EXPECT_EQ(Equiv("nobody", ""), "It's 100% \"new\" (Default)");
}

TEST_F(UserListTest, NamesLongerThanAStatementBufferWork)
{
    const std::string name(1500, 'n');
    EXPECT_EQ(store->CreateTessaryGroup(name.c_str()), S_OK);
    EXPECT_EQ(store->AddUserToTessaryGroup(name.c_str(), name.c_str()), S_OK);
    EXPECT_EQ(GroupOfUser(name.c_str()).size(), 259u); // cut to the caller's buffer
    std::vector<char> big(2000, 'x');
    bool found = false;
    EXPECT_EQ(store->IsUserInTessaryGroup(name.c_str(), &found, big.data(), static_cast<int>(big.size())), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(std::string(big.data()), name);
}

TEST_F(UserListTest, EmptyOrMissingNamesAreInvalid)
{
    for (const char* bad : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(store->CreateUser(bad), E_INVALIDARG);
        EXPECT_EQ(store->DeleteUser(bad), E_INVALIDARG);
        EXPECT_EQ(store->CreateComputer(bad), E_INVALIDARG);
        EXPECT_EQ(store->DeleteComputer(bad), E_INVALIDARG);
        EXPECT_EQ(store->CreateTessaryGroup(bad), E_INVALIDARG);
        EXPECT_EQ(store->DeleteTessaryGroup(bad), E_INVALIDARG);
        EXPECT_EQ(store->AddUserToTessaryGroup("Default", bad), E_INVALIDARG);
        EXPECT_EQ(store->AddComputerToTessaryGroup(bad, "PC1"), E_INVALIDARG);
        EXPECT_EQ(store->RemoveUserFromTessaryGroup(bad, "alice"), E_INVALIDARG);
        EXPECT_EQ(store->RemoveComputerFromTessaryGroup("Default", bad), E_INVALIDARG);
        EXPECT_EQ(store->RenameTessaryGroup("Default", bad), E_INVALIDARG);
        EXPECT_EQ(store->SetDefaultGroup(bad), E_INVALIDARG);
    }
    EXPECT_EQ(Groups(), (std::vector<std::string>{"4:Default"}));
    EXPECT_TRUE(Computers().empty());
    // The membership questions take an empty name and find nothing.
    EXPECT_EQ(GroupOfUser(""), "-");
    EXPECT_EQ(GroupOfComputer(""), "-");
    EXPECT_TRUE(Members("").empty());
    bool found = false;
    char group[8];
    EXPECT_EQ(store->IsUserInTessaryGroup(nullptr, &found, group, sizeof group), E_INVALIDARG);
    EXPECT_EQ(store->IsComputerInTessaryGroup("PC1", nullptr, group, sizeof group), E_INVALIDARG);
    HeapNameList list;
    EXPECT_EQ(store->EnumerateTessaryGroupMembers(nullptr, list), E_INVALIDARG);
}

TEST_F(UserListTest, ClosedStoreRefusesEveryDatabaseOperation)
{
    // With the keep-open flag, Close leaves the database open.
    EXPECT_EQ(store->Close(), S_OK);
    EXPECT_EQ(store->CreateUser("alice"), S_OK);

    Reopen(0);
    EXPECT_EQ(store->Save("userlist.fdb"), S_OK);
    EXPECT_EQ(store->Close(), S_OK);
    EXPECT_EQ(store->Save("userlist.fdb"), E_FAIL);
    EXPECT_EQ(store->RevertChanges(), E_NOTIMPL);
    EXPECT_EQ(store->CreateUser("bob"), E_INVALIDARG);
    EXPECT_EQ(store->DeleteUser("alice"), E_INVALIDARG);
    EXPECT_EQ(store->SetDefaultGroup("Default"), E_INVALIDARG);
    HeapNameList list;
    list.Append(2, "stale");
    EXPECT_EQ(store->EnumerateUsers(list), E_INVALIDARG);
    EXPECT_TRUE(list.Empty());
    FlatNameWriter writer;
    writer.Append(2, "stale");
    EXPECT_EQ(store->EnumerateUsersFlat(writer), E_INVALIDARG);
    EXPECT_EQ(FlatBytes(writer), (std::vector<BYTE>{0, 0, 0, 0}));
    char group[260];
    bool found = false;
    DWORD kind = 0;
    EXPECT_EQ(store->IsUserInTessaryGroup("alice", &found, group, sizeof group), E_INVALIDARG);
    EXPECT_EQ(store->GetSecurityEquiv("alice", "", group, sizeof group, &kind), E_INVALIDARG);
    EXPECT_EQ(store->GetDefaultGroup(group, sizeof group), E_INVALIDARG);

    // Nothing was lost by closing.
    Reopen();
    EXPECT_EQ(Users(), (std::vector<std::string>{"2:alice"}));
}

TEST_F(UserListTest, LoadLeavesAFileThatIsNoDatabaseAlone)
{
    const std::string junk = folder / "junk.fdb";
    const std::string text(4096, 'j');
    ASSERT_TRUE(tqtest::WriteFileText(junk, text));
    EXPECT_EQ(store->Load("junk.fdb"), SQLITE_NOTADB);
    EXPECT_EQ(store->DatabasePath(), "");
    EXPECT_EQ(store->CreateUser("alice"), E_INVALIDARG);
    EXPECT_EQ(tqtest::ReadFileText(junk), text);

    EXPECT_EQ(store->Load("missing/userlist.fdb"), SQLITE_CANTOPEN);
    EXPECT_EQ(store->Load(""), E_INVALIDARG);
    // A good file opens again after the failures.
    EXPECT_EQ(store->Load("userlist.fdb"), S_OK);
    EXPECT_EQ(store->CreateUser("alice"), S_OK);
}

TEST(UserListDirectory, BrowsingWithoutADirectoryServiceFailsAndKeepsTheList)
{
    tqtest::TempFolder folder;
    CWinFileImpl files;
    files.SetFolder(nullptr, folder.Path().c_str());
    CSqlLiteUL store(&files, kUserListKeepOpen, DirectoryEntryPoints{nullptr, nullptr});
    HeapNameList list;
    list.Append(2, "kept");
    EXPECT_TRUE(FAILED(store.EnumerateNetworkContainerObjects("", list)));
    EXPECT_EQ(Entries(list), (std::vector<std::string>{"2:kept"}));
    EXPECT_EQ(store.EnumerateNetworkContainerObjects(nullptr, list), E_INVALIDARG);
}

TEST(UserListFactory, MakesAndReleasesAStore)
{
    tqtest::TempFolder folder;
    CWinFileImpl files;
    files.SetFolder(nullptr, folder.Path().c_str());
    IUserList* store = nullptr;
    ASSERT_EQ(CreateUserListStore(&store, &files, kUserListKeepOpen), S_OK);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->Load("userlist.fdb"), S_OK);
    EXPECT_EQ(store->CreateUser("alice"), S_OK);
    EXPECT_EQ(ReleaseUserListStore(store), S_OK);
    EXPECT_EQ(ReleaseUserListStore(nullptr), S_OK);
    EXPECT_EQ(QueryText(folder / "userlist.fdb", "SELECT user_name FROM wl_users"), "alice");
    EXPECT_EQ(CreateUserListStore(nullptr, &files, 0), E_POINTER);
}

} // namespace
