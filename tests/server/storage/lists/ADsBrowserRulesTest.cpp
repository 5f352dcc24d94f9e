// The browser's rules (binding, fallback, walking, classification, results)
// over a scripted directory, where every answer of the directory is chosen.
#include "platform/directory/ComputerName.h"
#include "platform/directory/DirectoryErrors.h"
#include "server/storage/lists/ADsBrowser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct Scripted {
    std::u16string name;
    std::u16string className;
    std::u16string path;
    bool container = false;
    bool group = false;
    bool user = false;
    bool unreadable = false; // name, class and path all fail
    std::map<std::u16string, std::u16string> properties;
    std::vector<DirectoryAttribute> attributes;
    HRESULT readAttributes = S_OK;
    std::vector<Scripted> children;
    std::vector<Scripted> members;
    int failAt = -1; // Next fails at this item
    HRESULT failure = E_FAIL;
};

class FakeEnumerator;

class FakeObject : public IDirectoryObject {
public:
    explicit FakeObject(Scripted script) : script_(std::move(script)) {}
    bool Answers(DirectoryFacet f) const override
    {
        return f == DirectoryFacet::Any || (f == DirectoryFacet::Container && script_.container) ||
               (f == DirectoryFacet::Group && script_.group) || (f == DirectoryFacet::User && script_.user);
    }
    HRESULT GetName(std::u16string& v) const override { return Read(script_.name, v); }
    HRESULT GetClass(std::u16string& v) const override { return Read(script_.className, v); }
    HRESULT GetPath(std::u16string& v) const override { return Read(script_.path, v); }
    HRESULT Get(std::u16string_view p, std::u16string& v) const override
    {
        auto it = script_.properties.find(std::u16string(p));
        if (it == script_.properties.end())
            return E_ADS_PROPERTY_NOT_FOUND;
        v = it->second;
        return S_OK;
    }
    HRESULT ReadAttributes(std::vector<DirectoryAttribute>& a) const override
    {
        a.insert(a.end(), script_.attributes.begin(), script_.attributes.end());
        return script_.readAttributes;
    }
    HRESULT EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& e) const override;
    HRESULT EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& e) const override;

private:
    HRESULT Read(const std::u16string& from, std::u16string& to) const
    {
        if (script_.unreadable)
            return E_FAIL;
        to = from;
        return S_OK;
    }
    Scripted script_;
};

class FakeEnumerator : public IDirectoryEnumerator {
public:
    FakeEnumerator(std::vector<Scripted> items, int failAt, HRESULT failure)
        : items_(std::move(items)), failAt_(failAt), failure_(failure)
    {
    }
    HRESULT Next(std::unique_ptr<IDirectoryObject>& o) override
    {
        o.reset();
        if (static_cast<int>(next_) == failAt_)
            return failure_;
        if (next_ >= items_.size())
            return S_FALSE;
        o = std::make_unique<FakeObject>(items_[next_++]);
        return S_OK;
    }

private:
    std::vector<Scripted> items_;
    size_t next_ = 0;
    int failAt_;
    HRESULT failure_;
};

HRESULT FakeObject::EnumerateChildren(std::unique_ptr<IDirectoryEnumerator>& e) const
{
    if (!script_.container)
        return E_NOINTERFACE;
    e = std::make_unique<FakeEnumerator>(script_.children, script_.failAt, script_.failure);
    return S_OK;
}

HRESULT FakeObject::EnumerateMembers(std::unique_ptr<IDirectoryEnumerator>& e) const
{
    if (!script_.group)
        return E_NOINTERFACE;
    e = std::make_unique<FakeEnumerator>(script_.members, script_.failAt, script_.failure);
    return S_OK;
}

struct Call {
    std::u16string path;
    std::u16string user;
    std::u16string password;
    DirectoryFacet facet;
    bool withCredentials;
};

// The scripted directory: objects by path, and a password every open checks.
struct FakeDirectory {
    std::map<std::u16string, Scripted> objects;
    std::u16string password = u"pw";
    std::vector<Call> calls;

    HRESULT Find(const Call& call, std::unique_ptr<IDirectoryObject>& o)
    {
        calls.push_back(call);
        if (call.withCredentials && call.password != password)
            return HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE);
        auto it = objects.find(call.path);
        if (it == objects.end())
            return HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT);
        auto made = std::make_unique<FakeObject>(it->second);
        if (!made->Answers(call.facet))
            return E_NOINTERFACE;
        o = std::move(made);
        return S_OK;
    }
};

FakeDirectory* directory = nullptr;

HRESULT FakeOpen(std::u16string_view path, std::u16string_view user, std::u16string_view password,
                 DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& o)
{
    return directory->Find({std::u16string(path), std::u16string(user), std::u16string(password), facet, true}, o);
}

HRESULT FakeGet(std::u16string_view path, DirectoryFacet facet, std::unique_ptr<IDirectoryObject>& o)
{
    return directory->Find({std::u16string(path), {}, {}, facet, false}, o);
}

Scripted Container(std::u16string name, std::u16string cls = u"organizationalUnit")
{
    Scripted s;
    s.name = u"OU=" + name;
    s.className = std::move(cls);
    s.path = u"LDAP://dc/OU=" + name;
    s.container = true;
    return s;
}

Scripted Item(std::u16string rdn, std::u16string cls, bool user, bool group, bool container)
{
    Scripted s;
    s.name = rdn;
    s.className = std::move(cls);
    s.path = u"LDAP://dc/" + rdn;
    s.user = user;
    s.group = group;
    s.container = container;
    return s;
}

std::vector<std::u16string> Names(const std::vector<DirectoryEntry>& list)
{
    std::vector<std::u16string> out;
    for (const DirectoryEntry& e : list)
        out.push_back(e.name);
    return out;
}

class BrowserRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        directory = &fake_;
        Scripted root = Container(u"Sales");
        root.children = {
            Item(u"CN=alice", u"user", true, false, true),        // user: its account name
            Item(u"CN=WS01", u"Computer", true, false, true),     // computer: its relative name
            Item(u"CN=Staff", u"group", false, true, true),       // group before anything else
            Item(u"CN=Bob", u"inetOrgPerson", false, false, false),
            Item(u"OU=East", u"organizationalUnit", false, false, true),
            Item(u"CN=Printer", u"device", false, false, false),  // not listed
            Item(u"plain", u"container", false, false, true),     // no "=": kept whole
        };
        root.children[0].properties[u"SAMAccountName"] = u"asmith";
        root.children[1].properties[u"SAMAccountName"] = u"WS01$";
        root.children[3].properties[u"SAMAccountName"] = u"bjones";
        fake_.objects[u"LDAP://dc/OU=Sales"] = root;

        Scripted staff = Item(u"CN=Staff", u"group", false, true, true);
        staff.children = {Item(u"CN=NotAMember", u"user", true, false, false)};
        staff.members = {Item(u"CN=alice", u"user", true, false, false), Item(u"CN=Ops", u"group", false, true, true)};
        fake_.objects[u"LDAP://dc/CN=Staff"] = staff;
        fake_.objects[u"LDAP://dc"] = Container(u"Top", u"domainDNS");
        fake_.objects[u"LDAP://dc/OU=Empty"] = Container(u"Empty");

        browser_.SetConfig("dc", "admin", "pw", "OU=Sales");
    }
    void TearDown() override { directory = nullptr; }

    HRESULT Enumerate(const char* path)
    {
        return browser_.EnumerateLdapContainer(path, containers_, groups_, users_, computers_);
    }
    size_t Opens() const { return fake_.calls.size(); }

    FakeDirectory fake_;
    CADsBrowser browser_{DirectoryEntryPoints{FakeOpen, FakeGet}};
    std::vector<DirectoryEntry> containers_, groups_, users_, computers_;
};

} // namespace

TEST_F(BrowserRules, ClassifiesEachObjectByTheFirstRuleThatApplies)
{
    ASSERT_EQ(Enumerate(""), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::u16string>{u"asmith", u"Bob"}));
    EXPECT_EQ(Names(computers_), (std::vector<std::u16string>{u"WS01"}));
    EXPECT_EQ(Names(groups_), (std::vector<std::u16string>{u"Staff"}));
    EXPECT_EQ(Names(containers_), (std::vector<std::u16string>{u"East", u"plain"}));
    EXPECT_EQ(users_[0].path, u"LDAP://dc/CN=alice");
    EXPECT_EQ(computers_[0].path, u"LDAP://dc/CN=WS01");
}

TEST_F(BrowserRules, ConnectsOnceThenOpensTheContainerWithTheAccount)
{
    ASSERT_EQ(Enumerate(nullptr), S_OK);
    ASSERT_EQ(Opens(), 2u);
    EXPECT_EQ(fake_.calls[0].path, u"LDAP://dc/OU=Sales");
    EXPECT_EQ(fake_.calls[0].facet, DirectoryFacet::Any);
    EXPECT_EQ(fake_.calls[1].facet, DirectoryFacet::Container);
    EXPECT_EQ(fake_.calls[1].user, u"admin");
    EXPECT_EQ(fake_.calls[1].password, u"pw");
    EXPECT_TRUE(browser_.IsConnected());
    containers_.clear();
    ASSERT_EQ(Enumerate("LDAP://dc/OU=Sales"), S_OK);
    EXPECT_EQ(Opens(), 3u); // no second bind
}

TEST_F(BrowserRules, ServerWithoutContainerBindsToTheServerAlone)
{
    browser_.SetConfig("dc", "admin", "pw", "");
    ASSERT_EQ(browser_.Connect(), S_OK);
    EXPECT_EQ(fake_.calls.back().path, u"LDAP://dc");
}

TEST_F(BrowserRules, NewSettingsBindAgain)
{
    ASSERT_EQ(Enumerate(""), S_OK);
    browser_.SetConfig("dc", "admin", "pw", "OU=Sales");
    EXPECT_FALSE(browser_.IsConnected());
    size_t before = Opens();
    ASSERT_EQ(Enumerate(""), S_OK);
    EXPECT_EQ(Opens(), before + 2);
    EXPECT_EQ(fake_.calls[before].facet, DirectoryFacet::Any);
}

TEST_F(BrowserRules, FailedBindIsReturnedAndRetriedOnEveryCall)
{
    browser_.SetConfig("dc", "admin", "wrong", "OU=Sales");
    EXPECT_EQ(Enumerate(""), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
    EXPECT_FALSE(browser_.IsConnected());
    EXPECT_EQ(Enumerate(""), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
    EXPECT_EQ(Opens(), 2u); // a bind each time, nothing more
    std::vector<DirectoryAttributeValue> values;
    EXPECT_EQ(browser_.ReadObjectAttributes("", values), HRESULT_FROM_WIN32(ERROR_LOGON_FAILURE));
    EXPECT_TRUE(users_.empty() && values.empty());
}

TEST_F(BrowserRules, GroupPathListsMembersNotChildren)
{
    ASSERT_EQ(Enumerate("LDAP://dc/CN=Staff"), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::u16string>{u"alice"})); // no account name: relative name
    EXPECT_EQ(Names(groups_), (std::vector<std::u16string>{u"Ops"}));
    EXPECT_TRUE(containers_.empty() && computers_.empty());
}

TEST_F(BrowserRules, OpenFailureIsReturned)
{
    EXPECT_EQ(Enumerate("LDAP://dc/OU=Gone"), HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT));
    fake_.objects[u"LDAP://dc/CN=alice"] = Item(u"CN=alice", u"user", true, false, false);
    EXPECT_EQ(Enumerate("LDAP://dc/CN=alice"), E_NOINTERFACE);
}

TEST_F(BrowserRules, CredentialsGoOnlyToTheConfiguredServer)
{
    ASSERT_EQ(browser_.Connect(), S_OK);
    size_t before = Opens();
    fake_.objects[u"LDAP://evil/OU=Sales"] = fake_.objects[u"LDAP://dc/OU=Sales"];
    fake_.objects[u"LDAP://dcx/OU=Sales"] = fake_.objects[u"LDAP://dc/OU=Sales"];
    std::vector<DirectoryAttributeValue> values;
    for (const char* path : {"LDAP://evil/OU=Sales", "LDAP://dcx/OU=Sales", "LDAP://dc:1/OU=Sales", "WinNT://h",
                             "LDAP:/dc/OU=Sales", "x"}) {
        EXPECT_EQ(Enumerate(path), E_ACCESSDENIED) << path;
        EXPECT_EQ(browser_.ReadObjectAttributes(path, values), E_ACCESSDENIED) << path;
    }
    EXPECT_EQ(Opens(), before);
    // The configured server in any case, with or without a dn.
    EXPECT_EQ(Enumerate("ldap://DC/OU=Sales"), HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT));
    EXPECT_EQ(Enumerate("LDAP://dc"), E_OUTOFMEMORY);
}

TEST_F(BrowserRules, LocalFallbackTakesOnlyLocalPaths)
{
    browser_.SetConfig("", "admin", "pw", "");
    EXPECT_EQ(Enumerate("LDAP://dc/OU=Sales"), E_ADS_BAD_PATHNAME);
    EXPECT_EQ(browser_.EnumerateWinNTContainer("LDAP://dc/OU=Sales", containers_, groups_, users_, computers_),
              E_ADS_BAD_PATHNAME);
    EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(BrowserRules, EmptyResultIsOutOfMemoryButAppendedListsCount)
{
    EXPECT_EQ(Enumerate("LDAP://dc/OU=Empty"), E_OUTOFMEMORY);
    EXPECT_TRUE(containers_.empty() && groups_.empty() && users_.empty() && computers_.empty());
    // Lists are appended to, never emptied: one already holding an entry
    // makes the result a success.
    users_.push_back({u"kept", u""});
    EXPECT_EQ(Enumerate("LDAP://dc/OU=Empty"), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::u16string>{u"kept"}));
    ASSERT_EQ(Enumerate(""), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::u16string>{u"kept", u"asmith", u"Bob"}));
}

TEST_F(BrowserRules, FirstStepFailureFailsTheWalkALaterOneEndsIt)
{
    fake_.objects[u"LDAP://dc/OU=Sales"].failAt = 0;
    fake_.objects[u"LDAP://dc/OU=Sales"].failure = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    EXPECT_EQ(Enumerate(""), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_TRUE(users_.empty());

    fake_.objects[u"LDAP://dc/OU=Sales"].failAt = 2;
    EXPECT_EQ(Enumerate(""), S_OK);
    EXPECT_EQ(Names(users_), (std::vector<std::u16string>{u"asmith"}));
    EXPECT_EQ(Names(computers_), (std::vector<std::u16string>{u"WS01"}));
    EXPECT_TRUE(groups_.empty());

    fake_.objects[u"LDAP://dc/OU=Empty"].failAt = 0;
    fake_.objects[u"LDAP://dc/OU=Empty"].failure = E_ACCESSDENIED;
    EXPECT_EQ(Enumerate("LDAP://dc/OU=Empty"), E_ACCESSDENIED);
}

TEST_F(BrowserRules, UnreadableItemsAreStillListedWithEmptyTexts)
{
    Scripted& sales = fake_.objects[u"LDAP://dc/OU=Sales"];
    sales.children = {Item(u"CN=x", u"computer", true, false, false), Item(u"CN=y", u"inetOrgPerson", false, false, false),
                      Item(u"CN=z", u"", false, true, false)};
    for (Scripted& s : sales.children)
        s.unreadable = true;
    ASSERT_EQ(Enumerate(""), S_OK);
    // Without a readable class the computer reads as a user; without a class
    // the person is nothing; the group stays a group.
    ASSERT_EQ(users_.size(), 1u);
    EXPECT_EQ(users_[0].name, u"");
    EXPECT_EQ(users_[0].path, u"");
    EXPECT_EQ(groups_.size(), 1u);
    EXPECT_TRUE(computers_.empty());
}

TEST_F(BrowserRules, NoServerGoesToTheLocalComputer)
{
    browser_.SetConfig("", "admin", "pw", "OU=Sales");
    Scripted computer = Container(u"x", u"Computer");
    computer.children = {Item(u"root", u"User", true, false, false), Item(u"wheel", u"Group", false, true, false)};
    computer.children[0].properties[u"SAMAccountName"] = u"never-used";
    char host[260];
    DWORD size = sizeof host;
    ASSERT_TRUE(GetComputerNameA(host, &size));
    fake_.objects[u"WinNT://" + CADsBrowser::WidenText(host)] = computer;

    ASSERT_EQ(Enumerate(""), S_OK);
    ASSERT_EQ(Opens(), 1u);
    EXPECT_FALSE(fake_.calls[0].withCredentials); // no bind, no account
    EXPECT_EQ(Names(users_), (std::vector<std::u16string>{u"root"}));
    EXPECT_EQ(Names(groups_), (std::vector<std::u16string>{u"wheel"}));
    EXPECT_FALSE(browser_.IsConnected());
}

TEST_F(BrowserRules, LocalObjectThatIsNeitherGroupNorContainerFails)
{
    fake_.objects[u"WinNT://h/root,user"] = Item(u"root", u"User", true, false, false);
    EXPECT_EQ(browser_.EnumerateWinNTContainer("WinNT://h/root,user", containers_, groups_, users_, computers_), E_FAIL);
    EXPECT_EQ(browser_.EnumerateWinNTContainer("winnt://elsewhere", containers_, groups_, users_, computers_),
              HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT));
}

TEST_F(BrowserRules, MissingDirectoryServiceFailsWithoutCallingIt)
{
    CADsBrowser none{DirectoryEntryPoints{nullptr, nullptr}};
    none.SetConfig("dc", "a", "pw", "");
    EXPECT_EQ(none.Connect(), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(none.EnumerateLdapContainer("", containers_, groups_, users_, computers_),
              HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    std::vector<DirectoryAttributeValue> values;
    EXPECT_EQ(none.ReadObjectAttributes("", values), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    none.SetConfig("", "", "", "");
    EXPECT_EQ(none.EnumerateLdapContainer("", containers_, groups_, users_, computers_),
              HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(BrowserRules, AttributeValuesByType)
{
    auto attribute = [](std::u16string name, DirectoryValueType type, std::vector<DirectoryAttribute::Value> values) {
        DirectoryAttribute a;
        a.name = std::move(name);
        a.type = type;
        a.values = std::move(values);
        return a;
    };
    std::vector<BYTE> provider = {'h', 0, 'i', 0, 0, 0, 'x', 0};
    std::vector<BYTE> unterminated = {'o', 0, 'k', 0, '!'};
    Scripted& sales = fake_.objects[u"LDAP://dc/OU=Sales"];
    sales.attributes = {
        attribute(u"member", DirectoryValueDnString, {{u"CN=a", {}}, {u"CN=b", {}}}),
        attribute(u"ou", DirectoryValueCaseIgnoreString, {{u"Sales", {}}}),
        attribute(u"code", DirectoryValueNumericString, {{u"42", {}}}),
        attribute(u"blob", DirectoryValueProviderSpecific, {{u"", provider}, {u"", unterminated}}),
        attribute(u"photo", DirectoryValueOctetString, {{u"ignored", {1, 2}}}),
        attribute(u"flag", DirectoryValueBoolean, {{u"ignored", {}}}),
        attribute(u"none", DirectoryValueCaseIgnoreString, {}),
    };
    std::vector<DirectoryAttributeValue> values;
    ASSERT_EQ(browser_.ReadObjectAttributes(nullptr, values), S_OK);
    std::vector<std::pair<std::u16string, std::u16string>> got;
    for (const auto& v : values)
        got.emplace_back(v.attribute, v.value);
    EXPECT_EQ(got, (std::vector<std::pair<std::u16string, std::u16string>>{{u"member", u"CN=a"},
                                                                           {u"member", u"CN=b"},
                                                                           {u"ou", u"Sales"},
                                                                           {u"code", u"42"},
                                                                           {u"blob", u"hi"},
                                                                           {u"blob", u"ok"},
                                                                           {u"photo", u""},
                                                                           {u"flag", u""}}));
}

TEST_F(BrowserRules, AttributeResults)
{
    std::vector<DirectoryAttributeValue> values;
    // Nothing to list after a successful read.
    EXPECT_EQ(browser_.ReadObjectAttributes("", values), E_OUTOFMEMORY);
    EXPECT_EQ(browser_.ReadObjectAttributes("LDAP://dc/OU=Gone", values), HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT));
    fake_.objects[u"LDAP://dc/OU=Sales"].readAttributes = E_ACCESSDENIED;
    EXPECT_EQ(browser_.ReadObjectAttributes("", values), E_ACCESSDENIED);
    values.push_back({u"kept", u""});
    EXPECT_EQ(browser_.ReadObjectAttributes("LDAP://dc/OU=Gone", values), S_OK);
}

TEST(BrowserText, WideningAndNarrowingAreLatin1)
{
    EXPECT_EQ(CADsBrowser::WidenText("A\xfc\xff"), u"A\u00fc\u00ff");
    EXPECT_EQ(CADsBrowser::NarrowText(u"A\u00fc\u00ff"), "A\xfc\xff");
    for (int b = 1; b < 256; ++b) {
        std::string one(1, static_cast<char>(b));
        ASSERT_EQ(CADsBrowser::NarrowText(CADsBrowser::WidenText(one)), one) << b;
    }
    // Units beyond Latin-1 must not become another character or a NUL.
    EXPECT_EQ(CADsBrowser::NarrowText(u"\u0141\u0100x"), "??x");
    EXPECT_EQ(CADsBrowser::NarrowText(u"a\U0001F600b"), "a?b");
    EXPECT_EQ(CADsBrowser::NarrowText(u"\xD800"), "?");
    EXPECT_EQ(CADsBrowser::NarrowText(u""), "");
}

TEST(BrowserText, NullSettingsAreEmpty)
{
    CADsBrowser browser{DirectoryEntryPoints{nullptr, nullptr}};
    EXPECT_EQ(browser.SetConfig(nullptr, nullptr, nullptr, nullptr), S_OK);
    std::vector<DirectoryEntry> a, b, c, d;
    // No server: the local provider, which is missing here.
    EXPECT_EQ(browser.EnumerateLdapContainer(nullptr, a, b, c, d), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
}
