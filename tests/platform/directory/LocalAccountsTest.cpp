// The local account database and the WinNT provider over it.
#include "platform/directory/ComputerName.h"
#include "platform/directory/Directory.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LocalAccountDatabase.h"
#include "platform/directory/WinNTDirectory.h"
#include "platform/directory/WinNTPath.h"
#include "platform/win/LastError.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Kind = CWinNTPath::Kind;

struct Listed {
    std::u16string name;
    std::u16string className;
    std::u16string path;
};

std::vector<Listed> Drain(IDirectoryEnumerator& e)
{
    std::vector<Listed> out;
    std::unique_ptr<IDirectoryObject> o;
    while (e.Next(o) == S_OK) {
        Listed l;
        EXPECT_EQ(o->GetName(l.name), S_OK);
        EXPECT_EQ(o->GetClass(l.className), S_OK);
        EXPECT_EQ(o->GetPath(l.path), S_OK);
        out.push_back(l);
    }
    EXPECT_EQ(o, nullptr);
    return out;
}

bool Has(const std::vector<Listed>& list, std::u16string_view name, std::u16string_view className)
{
    return std::any_of(list.begin(), list.end(), [&](const Listed& l) { return l.name == name && l.className == className; });
}

class SampleAccounts : public ::testing::Test {
protected:
    void SetUp() override
    {
        tqtest::WriteFileText(folder_ / "passwd",
                              "root:x:0:0:root:/root:/bin/bash\n"
                              "# a comment\n"
                              "\n"
                              "alice:x:1000:100:Alice,,,:/home/alice:/bin/sh\r\n"
                              "bob:x:1001:1001::/home/bob:/bin/sh\n"
                              "broken:x:notanumber:1:::\n"
                              "short:x:5\n"
                              "+nisuser::::::\n"
                              "carol:x:1002:100::/home/carol:/bin/sh");
        tqtest::WriteFileText(folder_ / "group",
                              "root:x:0:\n"
                              "users:x:100:bob,ghost,alice\n"
                              "bob:x:1001:\n"
                              "audio:x:29:bob,bob\n"
                              "-nisgroup:::\n"
                              "bad:x:zz:\n");
    }

    CLocalAccountDatabase Accounts() const { return CLocalAccountDatabase(folder_ / "passwd", folder_ / "group"); }
    CWinNTDirectory Directory() const { return CWinNTDirectory(Accounts(), "Box1"); }

    tqtest::TempFolder folder_;
};

} // namespace

TEST(CLocalAccountDatabase, LinesOfBothFiles)
{
    CLocalAccountDatabase::User u;
    ASSERT_TRUE(CLocalAccountDatabase::ParseUserLine("daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin", u));
    EXPECT_EQ(u.name, "daemon");
    EXPECT_EQ(u.uid, 1u);
    EXPECT_EQ(u.gid, 1u);
    EXPECT_FALSE(CLocalAccountDatabase::ParseUserLine(":x:1:1:::", u));
    EXPECT_FALSE(CLocalAccountDatabase::ParseUserLine("a:x:1:1::", u));
    EXPECT_FALSE(CLocalAccountDatabase::ParseUserLine("a:x:99999999999:1:::", u));
    EXPECT_FALSE(CLocalAccountDatabase::ParseUserLine("a:x:-1:1:::", u));

    CLocalAccountDatabase::Group g;
    ASSERT_TRUE(CLocalAccountDatabase::ParseGroupLine("users:x:100:a,,b", g));
    EXPECT_EQ(g.name, "users");
    EXPECT_EQ(g.gid, 100u);
    EXPECT_EQ(g.members, (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(CLocalAccountDatabase::ParseGroupLine("empty:x:5:", g));
    EXPECT_TRUE(g.members.empty());
    EXPECT_FALSE(CLocalAccountDatabase::ParseGroupLine("x:x:5", g));
    EXPECT_FALSE(CLocalAccountDatabase::ParseGroupLine("+:::", g));
}

TEST_F(SampleAccounts, ReadsWellFormedAccountsOnly)
{
    std::vector<CLocalAccountDatabase::User> users;
    ASSERT_EQ(Accounts().ReadUsers(users), S_OK);
    std::vector<std::string> names;
    for (const auto& u : users)
        names.push_back(u.name);
    EXPECT_EQ(names, (std::vector<std::string>{"root", "alice", "bob", "carol"}));

    std::vector<CLocalAccountDatabase::Group> groups;
    ASSERT_EQ(Accounts().ReadGroups(groups), S_OK);
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[1].name, "users");
}

TEST_F(SampleAccounts, GroupMembersAreListedAndPrimaryUsersOnceEach)
{
    std::vector<CLocalAccountDatabase::User> users;
    std::vector<CLocalAccountDatabase::Group> groups;
    ASSERT_EQ(Accounts().ReadUsers(users), S_OK);
    ASSERT_EQ(Accounts().ReadGroups(groups), S_OK);
    // Listed members first (ghost is no user), then carol by her primary group.
    EXPECT_EQ(CLocalAccountDatabase::MembersOf(groups[1], users), (std::vector<std::string>{"bob", "alice", "carol"}));
    EXPECT_EQ(CLocalAccountDatabase::MembersOf(groups[3], users), (std::vector<std::string>{"bob"}));
    EXPECT_EQ(CLocalAccountDatabase::MembersOf(groups[0], users), (std::vector<std::string>{"root"}));
}

TEST_F(SampleAccounts, MissingFileIsFileNotFound)
{
    std::vector<CLocalAccountDatabase::User> users;
    CLocalAccountDatabase none(folder_ / "nope", folder_ / "nope");
    EXPECT_EQ(none.ReadUsers(users), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(CWinNTDirectory(none, "Box1").Open(u"WinNT://Box1", DirectoryFacet::Any, o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    EXPECT_EQ(o->EnumerateChildren(e), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(SampleAccounts, ComputerHoldsItsUsersAndGroups)
{
    std::unique_ptr<IDirectoryObject> computer;
    ASSERT_EQ(Directory().Open(u"WinNT://box1", DirectoryFacet::Container, computer), S_OK);
    std::u16string text;
    computer->GetName(text);
    EXPECT_EQ(text, u"Box1");
    computer->GetClass(text);
    EXPECT_EQ(text, u"Computer");
    computer->GetPath(text);
    EXPECT_EQ(text, u"WinNT://Box1");
    EXPECT_FALSE(computer->Answers(DirectoryFacet::Group));
    EXPECT_FALSE(computer->Answers(DirectoryFacet::User));

    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(computer->EnumerateChildren(e), S_OK);
    std::vector<Listed> children = Drain(*e);
    ASSERT_EQ(children.size(), 8u);
    EXPECT_TRUE(Has(children, u"alice", u"User"));
    EXPECT_TRUE(Has(children, u"bob", u"User"));
    EXPECT_TRUE(Has(children, u"bob", u"Group"));
    EXPECT_TRUE(Has(children, u"audio", u"Group"));
    EXPECT_EQ(children[0].path, u"WinNT://Box1/root,user");
    EXPECT_EQ(children[4].path, u"WinNT://Box1/root,group");
    EXPECT_EQ(computer->EnumerateMembers(e), E_NOINTERFACE);
}

TEST_F(SampleAccounts, GroupPathListsItsMembers)
{
    std::unique_ptr<IDirectoryObject> group;
    ASSERT_EQ(Directory().Open(u"WinNT://Box1/users", DirectoryFacet::Group, group), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(group->EnumerateMembers(e), S_OK);
    std::vector<Listed> members = Drain(*e);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, u"bob");
    EXPECT_EQ(members[0].className, u"User");
    EXPECT_EQ(members[0].path, u"WinNT://Box1/bob,user");
    EXPECT_EQ(group->EnumerateChildren(e), E_NOINTERFACE);
}

TEST_F(SampleAccounts, SharedNameOpensTheGroupUnlessTheUserIsAskedFor)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Directory().Open(u"WinNT://Box1/bob", DirectoryFacet::Any, o), S_OK);
    EXPECT_TRUE(o->Answers(DirectoryFacet::Group));
    ASSERT_EQ(Directory().Open(u"WinNT://Box1/bob,user", DirectoryFacet::Any, o), S_OK);
    EXPECT_TRUE(o->Answers(DirectoryFacet::User));
    ASSERT_EQ(Directory().Open(u"WinNT://Box1/alice", DirectoryFacet::Any, o), S_OK);
    EXPECT_TRUE(o->Answers(DirectoryFacet::User));
    std::u16string value;
    EXPECT_EQ(o->Get(u"FullName", value), E_ADS_PROPERTY_NOT_FOUND);
    std::vector<DirectoryAttribute> attributes;
    EXPECT_EQ(o->ReadAttributes(attributes), E_NOINTERFACE);
}

TEST_F(SampleAccounts, UnknownAccountsComputersAndFacets)
{
    std::unique_ptr<IDirectoryObject> o;
    CWinNTDirectory d = Directory();
    EXPECT_EQ(d.Open(u"WinNT://Box1/nobody", DirectoryFacet::Any, o), HRESULT_FROM_WIN32(NERR_UserNotFound));
    EXPECT_EQ(d.Open(u"WinNT://Box1/alice,group", DirectoryFacet::Any, o), HRESULT_FROM_WIN32(NERR_GroupNotFound));
    EXPECT_EQ(d.Open(u"WinNT://Other/alice", DirectoryFacet::Any, o), HRESULT_FROM_WIN32(ERROR_BAD_NETPATH));
    EXPECT_EQ(d.Open(u"WinNT://Box1/alice", DirectoryFacet::Container, o), E_NOINTERFACE);
    EXPECT_EQ(d.Open(u"WinNT://", DirectoryFacet::Any, o), E_ADS_BAD_PATHNAME);
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(d.Open(u"WinNT://localhost", DirectoryFacet::Container, o), S_OK);
}

TEST(LocalComputer, NameIsTheShortHostName)
{
    std::string name = LocalComputerName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.find('.'), std::string::npos);
    char buffer[260];
    DWORD size = sizeof buffer;
    ASSERT_TRUE(GetComputerNameA(buffer, &size));
    EXPECT_EQ(std::string(buffer), name);
    EXPECT_EQ(size, name.size());

    char tiny[1];
    size = sizeof tiny;
    EXPECT_FALSE(GetComputerNameA(tiny, &size));
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(size, name.size() + 1);
}

// Every machine has the user root and the group root (gid 0).
TEST(LocalComputer, SystemAccountsHoldRoot)
{
    std::string host = LocalComputerName();
    std::u16string computer = CWinNTPath::Format(std::u16string(host.begin(), host.end()));
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(GetDirectoryObject(computer, DirectoryFacet::Container, o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    std::vector<Listed> children = Drain(*e);
    EXPECT_TRUE(Has(children, u"root", u"User"));
    EXPECT_TRUE(Has(children, u"root", u"Group"));

    ASSERT_EQ(GetDirectoryObject(computer + u"/root,group", DirectoryFacet::Group, o), S_OK);
    ASSERT_EQ(o->EnumerateMembers(e), S_OK);
    EXPECT_TRUE(Has(Drain(*e), u"root", u"User"));

    // Credentials mean nothing to the local provider.
    EXPECT_EQ(OpenDirectoryObject(computer + u"/root,user", u"someone", u"wrong", DirectoryFacet::User, o), S_OK);
    EXPECT_EQ(OpenDirectoryObject(u"NDS://tree", {}, {}, DirectoryFacet::Any, o), E_ADS_BAD_PATHNAME);
}
