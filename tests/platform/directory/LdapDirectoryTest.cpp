// The LDAP provider against a real slapd.
#include "platform/directory/Directory.h"
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"
#include "tests/support/SlapdServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using tqtest::SlapdServer;

std::u16string U(const std::string& s)
{
    return Utf8ToUtf16(s);
}

std::string N(const std::u16string& s)
{
    return Utf16ToUtf8(s);
}

struct Seen {
    std::string className;
    std::string path;
    bool container = false;
    bool group = false;
    bool user = false;
};

// Relative name -> what the object said of itself.
std::map<std::string, Seen> Drain(IDirectoryEnumerator& e, HRESULT* last = nullptr)
{
    std::map<std::string, Seen> out;
    std::unique_ptr<IDirectoryObject> o;
    HRESULT hr;
    while ((hr = e.Next(o)) == S_OK) {
        std::u16string name, className, path;
        EXPECT_EQ(o->GetName(name), S_OK);
        EXPECT_EQ(o->GetClass(className), S_OK);
        EXPECT_EQ(o->GetPath(path), S_OK);
        out[N(name)] = {N(className), N(path), o->Answers(DirectoryFacet::Container),
                        o->Answers(DirectoryFacet::Group), o->Answers(DirectoryFacet::User)};
    }
    if (last != nullptr)
        *last = hr;
    return out;
}

class CLdapDirectory : public tqtest::SlapdTest {
protected:
    HRESULT Open(const std::string& dn, std::unique_ptr<IDirectoryObject>& o,
                 DirectoryFacet facet = DirectoryFacet::Any, const std::string& password = SlapdServer::kAdminPassword)
    {
        return OpenDirectoryObject(U(slapd_.Path(dn)), U(SlapdServer::kAdminDn), U(password), facet, o);
    }

    std::map<std::string, Seen> Members(const std::string& dn)
    {
        std::unique_ptr<IDirectoryObject> group;
        EXPECT_EQ(Open(dn, group, DirectoryFacet::Group), S_OK);
        if (group == nullptr)
            return {};
        std::unique_ptr<IDirectoryEnumerator> e;
        EXPECT_EQ(group->EnumerateMembers(e), S_OK);
        HRESULT end = S_OK;
        auto members = Drain(*e, &end);
        EXPECT_EQ(end, S_FALSE);
        return members;
    }

    const std::string sales_ = "ou=Sales,dc=example,dc=test";
};

// A socket that completes the TCP handshake and then never says a word.
class SilentServer {
public:
    SilentServer()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(fd_, 4);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    int Port() const { return port_; }

private:
    int fd_;
    int port_;
};

} // namespace

TEST_F(CLdapDirectory, ContainerShowsItsNameClassAndPath)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Open(sales_, o, DirectoryFacet::Container), S_OK);
    std::u16string text;
    ASSERT_EQ(o->GetName(text), S_OK);
    EXPECT_EQ(text, u"ou=Sales");
    ASSERT_EQ(o->GetClass(text), S_OK);
    EXPECT_EQ(text, u"organizationalUnit");
    ASSERT_EQ(o->GetPath(text), S_OK);
    EXPECT_EQ(N(text), slapd_.Path(sales_));
    EXPECT_TRUE(o->Answers(DirectoryFacet::Container));
    EXPECT_FALSE(o->Answers(DirectoryFacet::Group));
    EXPECT_FALSE(o->Answers(DirectoryFacet::User));
}

TEST_F(CLdapDirectory, ChildrenCarryFacetsByTheirObjectClasses)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Open(sales_, o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    HRESULT end = S_OK;
    auto children = Drain(*e, &end);
    EXPECT_EQ(end, S_FALSE);
    ASSERT_EQ(children.size(), 11u);

    EXPECT_EQ(children["ou=East"].className, "organizationalUnit");
    EXPECT_TRUE(children["ou=East"].container);
    EXPECT_EQ(children["cn=Machines"].className, "container");
    EXPECT_TRUE(children["cn=Machines"].container);

    const Seen& alice = children["cn=Alice Smith"];
    EXPECT_EQ(alice.className, "user");
    EXPECT_TRUE(alice.user);
    EXPECT_FALSE(alice.container);
    EXPECT_EQ(alice.path, slapd_.Path("cn=Alice Smith," + sales_));

    // inetOrgPerson alone is no user account; with posixAccount it is.
    EXPECT_EQ(children["cn=Bob Jones"].className, "inetOrgPerson");
    EXPECT_FALSE(children["cn=Bob Jones"].user);
    EXPECT_TRUE(children["uid=carol"].user);
    EXPECT_EQ(children["uid=carol"].className, "inetOrgPerson");

    // computer is a structural class below user.
    EXPECT_EQ(children["cn=WS01"].className, "computer");
    EXPECT_TRUE(children["cn=WS01"].user);

    for (const char* group : {"cn=Staff", "cn=Ops", "cn=Auditors", "cn=Admins"}) {
        EXPECT_TRUE(children[group].group) << group;
        EXPECT_TRUE(children[group].container) << group;
        EXPECT_FALSE(children[group].user) << group;
    }
    const Seen& printer = children["cn=Printer1"];
    EXPECT_EQ(printer.className, "device");
    EXPECT_FALSE(printer.container || printer.group || printer.user);
}

TEST_F(CLdapDirectory, EmptyContainerEndsAtOnce)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Open("ou=Empty,dc=example,dc=test", o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    std::unique_ptr<IDirectoryObject> item;
    EXPECT_EQ(e->Next(item), S_FALSE);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(e->Next(item), S_FALSE);
}

TEST_F(CLdapDirectory, MembersOfEveryKindOfGroup)
{
    // member values; the dangling cn=Ghost is left out.
    auto staff = Members("cn=Staff," + sales_);
    EXPECT_EQ(staff.size(), 3u);
    EXPECT_TRUE(staff.count("cn=Alice Smith") && staff.count("cn=Bob Jones") && staff.count("cn=WS01"));
    EXPECT_EQ(staff["cn=WS01"].className, "computer");

    // uniqueMember values, one with its bit string.
    auto auditors = Members("cn=Auditors," + sales_);
    EXPECT_EQ(auditors.size(), 2u);
    EXPECT_TRUE(auditors.count("cn=Alice Smith") && auditors.count("uid=carol"));

    // memberUid values name posixAccounts; "*" is a name, not a wildcard.
    auto ops = Members("cn=Ops," + sales_);
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops.begin()->first, "uid=carol");

    // A group may hold a group.
    auto admins = Members("cn=Admins," + sales_);
    ASSERT_EQ(admins.size(), 1u);
    EXPECT_TRUE(admins["cn=Staff"].group);
}

TEST_F(CLdapDirectory, FacetsThatAnObjectLacksAreRefused)
{
    std::unique_ptr<IDirectoryObject> o;
    EXPECT_EQ(Open("cn=Alice Smith," + sales_, o, DirectoryFacet::Container), E_NOINTERFACE);
    EXPECT_EQ(o, nullptr);
    ASSERT_EQ(Open("cn=Alice Smith," + sales_, o, DirectoryFacet::User), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    EXPECT_EQ(o->EnumerateChildren(e), E_NOINTERFACE);
    EXPECT_EQ(o->EnumerateMembers(e), E_NOINTERFACE);
    // A group opens as a container too, as its members make it one.
    EXPECT_EQ(Open("cn=Staff," + sales_, o, DirectoryFacet::Container), S_OK);
}

TEST_F(CLdapDirectory, PropertiesAndAttributes)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Open("cn=Alice Smith," + sales_, o), S_OK);
    std::u16string value;
    ASSERT_EQ(o->Get(u"SAMAccountName", value), S_OK);
    EXPECT_EQ(value, u"asmith");
    EXPECT_EQ(o->Get(u"mail", value), E_ADS_PROPERTY_NOT_FOUND);

    ASSERT_EQ(Open("cn=Bob Jones," + sales_, o), S_OK);
    std::vector<DirectoryAttribute> attributes;
    ASSERT_EQ(o->ReadAttributes(attributes), S_OK);
    std::map<std::string, const DirectoryAttribute*> byName;
    for (const auto& a : attributes)
        byName[N(a.name)] = &a;
    ASSERT_TRUE(byName.count("cn") && byName.count("objectClass") && byName.count("jpegPhoto"));
    EXPECT_EQ(byName["cn"]->type, DirectoryValueCaseIgnoreString);
    ASSERT_EQ(byName["cn"]->values.size(), 1u);
    EXPECT_EQ(byName["cn"]->values[0].text, u"Bob Jones");
    // A value that is not text comes as bytes.
    EXPECT_EQ(byName["jpegPhoto"]->type, DirectoryValueOctetString);
    ASSERT_EQ(byName["jpegPhoto"]->values.size(), 1u);
    EXPECT_EQ(byName["jpegPhoto"]->values[0].bytes, (std::vector<BYTE>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}));
    EXPECT_TRUE(byName["jpegPhoto"]->values[0].text.empty());
}

TEST_F(CLdapDirectory, SlashInADnIsEscapedInItsPath)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Open("ou=East," + sales_, o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    auto children = Drain(*e);
    ASSERT_EQ(children.count("cn=North/South"), 1u);
    std::string path = children["cn=North/South"].path;
    EXPECT_EQ(path, slapd_.Path("cn=North\\/South,ou=East," + sales_));
    std::unique_ptr<IDirectoryObject> again;
    EXPECT_EQ(OpenDirectoryObject(U(path), {}, {}, DirectoryFacet::Container, again), S_OK);
}

TEST_F(CLdapDirectory, ServerAlonePathOpensItsNamingContext)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(OpenDirectoryObject(U("LDAP://" + slapd_.Server()), {}, {}, DirectoryFacet::Container, o), S_OK);
    std::u16string text;
    o->GetPath(text);
    EXPECT_EQ(N(text), slapd_.Path("dc=example,dc=test"));
    o->GetClass(text);
    EXPECT_EQ(text, u"organization");
}

TEST_F(CLdapDirectory, AnonymousReadWorksWhereTheServerAllowsIt)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(GetDirectoryObject(U(slapd_.Path(sales_)), DirectoryFacet::Container, o), S_OK);
}

TEST_F(CLdapDirectory, WrongPasswordIsALogonFailure)
{
    std::unique_ptr<IDirectoryObject> o;
    EXPECT_EQ(static_cast<DWORD>(Open(sales_, o, DirectoryFacet::Any, "wrong")), 0x8007052Eu);
    EXPECT_EQ(static_cast<DWORD>(OpenDirectoryObject(U(slapd_.Path(sales_)), u"cn=nobody,dc=example,dc=test",
                                                     u"secret", DirectoryFacet::Any, o)),
              0x8007052Eu);
    EXPECT_EQ(o, nullptr);
}

TEST_F(CLdapDirectory, MissingObjectIsNoSuchObject)
{
    std::unique_ptr<IDirectoryObject> o;
    EXPECT_EQ(static_cast<DWORD>(Open("ou=Nowhere,dc=example,dc=test", o)), 0x80072030u);
    EXPECT_EQ(static_cast<DWORD>(Open("dc=other", o)), 0x80072030u);
    EXPECT_EQ(Open("not a dn", o), HRESULT_FROM_WIN32(ERROR_DS_INVALID_DN_SYNTAX));
}

TEST_F(CLdapDirectory, ServerThatDiesMidWalkFailsTheWalk)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(Open(sales_, o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    slapd_.Stop();
    std::unique_ptr<IDirectoryObject> item;
    EXPECT_EQ(static_cast<DWORD>(e->Next(item)), 0x8007203Au);
    EXPECT_EQ(item, nullptr);
}

// Bounded waits are what this shows: without them a dead or mute server
// would hold the caller for minutes. The bounds below are generous.
TEST(LdapDeadServer, RefusedConnectionIsServerDownAtOnce)
{
    int port = tqtest::FreeTcpPort();
    std::unique_ptr<IDirectoryObject> o;
    auto start = std::chrono::steady_clock::now();
    HRESULT hr = OpenDirectoryObject(U("LDAP://127.0.0.1:" + std::to_string(port) + "/dc=x"), u"cn=a", u"b",
                                     DirectoryFacet::Any, o);
    EXPECT_EQ(static_cast<DWORD>(hr), 0x8007203Au);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(LdapDeadServer, ServerThatNeverAnswersTimesOut)
{
    SilentServer mute;
    std::unique_ptr<IDirectoryObject> o;
    auto start = std::chrono::steady_clock::now();
    HRESULT hr = OpenDirectoryObject(U("LDAP://127.0.0.1:" + std::to_string(mute.Port()) + "/dc=x"), u"cn=a", u"b",
                                     DirectoryFacet::Any, o);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

namespace {

class LargeContainer : public tqtest::SlapdTest {
protected:
    static constexpr int kChildren = 1234;
    std::string Ldif() const override
    {
        std::string ldif = "dn: dc=example,dc=test\nobjectClass: dcObject\nobjectClass: organization\ndc: example\n"
                           "o: Example\n\ndn: ou=Many,dc=example,dc=test\nobjectClass: organizationalUnit\nou: Many\n";
        for (int i = 0; i < kChildren; ++i)
            ldif += "\ndn: ou=u" + std::to_string(i) + ",ou=Many,dc=example,dc=test\nobjectClass: organizationalUnit\n"
                    "ou: u" + std::to_string(i) + "\n";
        return ldif;
    }
};

} // namespace

// More children than one reply may carry (500 by the server's default) come
// in pages.
TEST_F(LargeContainer, EveryChildIsListed)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(OpenDirectoryObject(U(slapd_.Path("ou=Many,dc=example,dc=test")), U(SlapdServer::kAdminDn),
                                  U(SlapdServer::kAdminPassword), DirectoryFacet::Container, o),
              S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    HRESULT end = S_OK;
    auto children = Drain(*e, &end);
    EXPECT_EQ(end, S_FALSE);
    EXPECT_EQ(children.size(), static_cast<size_t>(kChildren));
    EXPECT_EQ(children.count("ou=u0") + children.count("ou=u1233"), 2u);
}

// A server that caps what an anonymous reader sees still gives what it
// allows, not a failure.
TEST_F(LargeContainer, AnonymousReaderGetsWhatTheServerAllows)
{
    std::unique_ptr<IDirectoryObject> o;
    ASSERT_EQ(GetDirectoryObject(U(slapd_.Path("ou=Many,dc=example,dc=test")), DirectoryFacet::Container, o), S_OK);
    std::unique_ptr<IDirectoryEnumerator> e;
    ASSERT_EQ(o->EnumerateChildren(e), S_OK);
    HRESULT end = S_OK;
    auto children = Drain(*e, &end);
    EXPECT_EQ(end, S_FALSE);
    EXPECT_EQ(children.size(), 500u);
}
