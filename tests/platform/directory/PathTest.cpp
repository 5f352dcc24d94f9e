// Parsing and forming the two kinds of directory paths.
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapPath.h"
#include "platform/directory/WinNTPath.h"

#include <gtest/gtest.h>

TEST(LdapPath, ServerPortAndDn)
{
    LdapPath p;
    ASSERT_EQ(LdapPath::Parse(u"LDAP://dc1.example.test:3890/OU=Sales,DC=example,DC=test", p), S_OK);
    EXPECT_EQ(p.Server(), "dc1.example.test:3890");
    EXPECT_EQ(p.Host(), "dc1.example.test");
    EXPECT_EQ(p.Port(), 3890);
    EXPECT_EQ(p.Dn(), "OU=Sales,DC=example,DC=test");
    EXPECT_EQ(p.Uri(), "ldap://dc1.example.test:3890");
}

TEST(LdapPath, ServerAloneTakesTheDefaultPortAndNoDn)
{
    for (const char16_t* text : {u"LDAP://dc1", u"LDAP://dc1/", u"ldap://dc1"}) {
        LdapPath p;
        ASSERT_EQ(LdapPath::Parse(text, p), S_OK);
        EXPECT_EQ(p.Server(), "dc1");
        EXPECT_EQ(p.Port(), 389);
        EXPECT_EQ(p.Dn(), "");
    }
}

TEST(LdapPath, BracketedIpv6Server)
{
    LdapPath p;
    ASSERT_EQ(LdapPath::Parse(u"LDAP://[::1]:636/dc=x", p), S_OK);
    EXPECT_EQ(p.Host(), "::1");
    EXPECT_EQ(p.Port(), 636);
    EXPECT_EQ(p.Server(), "[::1]:636");
    EXPECT_EQ(p.Uri(), "ldap://[::1]:636");
}

TEST(LdapPath, EscapedSlashInTheDnRoundTrips)
{
    LdapPath p;
    ASSERT_EQ(LdapPath::Parse(u"LDAP://h/cn=North\\/South,dc=x", p), S_OK);
    EXPECT_EQ(p.Dn(), "cn=North/South,dc=x");
    EXPECT_EQ(LdapPath::Format("h", p.Dn()), u"LDAP://h/cn=North\\/South,dc=x");
    // A DN's own backslash escapes stay as they are.
    ASSERT_EQ(LdapPath::Parse(u"LDAP://h/cn=Smith\\, John,dc=x", p), S_OK);
    EXPECT_EQ(p.Dn(), "cn=Smith\\, John,dc=x");
    EXPECT_EQ(LdapPath::Format("h", ""), u"LDAP://h");
}

TEST(LdapPath, NonAsciiDnIsCarriedAsUtf8)
{
    LdapPath p;
    ASSERT_EQ(LdapPath::Parse(u"LDAP://h/ou=M\u00fcnchen", p), S_OK);
    EXPECT_EQ(p.Dn(), "ou=M\xc3\xbcnchen");
    EXPECT_EQ(LdapPath::Format("h", p.Dn()), u"LDAP://h/ou=M\u00fcnchen");
}

TEST(LdapPath, MalformedPathsAreRefused)
{
    const std::u16string bad[] = {
        u"",
        u"LDAP:/h/dc=x",
        u"WinNT://h",
        u"LDAP://",
        u"LDAP:///dc=x",
        u"LDAP://DC=example,DC=test", // no server
        u"LDAP://h:0/dc=x",
        u"LDAP://h:65536/dc=x",
        u"LDAP://h:/dc=x",
        u"LDAP://h:38a/dc=x",
        u"LDAP://h x/dc=x",
        u"LDAP://h?x/dc=x",
        u"LDAP://[::1/dc=x",
        u"LDAP://[]/dc=x",
        u"LDAP://[::1]x/dc=x",
        u"LDAP://h@evil/dc=x",
        std::u16string(u"LDAP://h/dc=x\0y", 15),
        u"LDAP://h/dc=\xD800x", // unpaired surrogate
        u"LDAP://" + std::u16string(254, u'a'),
    };
    for (const std::u16string& text : bad) {
        LdapPath p;
        EXPECT_EQ(LdapPath::Parse(text, p), E_ADS_BAD_PATHNAME) << std::string(text.begin(), text.end());
    }
}

TEST(WinNTPath, ComputerAndAccounts)
{
    WinNTPath p;
    ASSERT_EQ(WinNTPath::Parse(u"WinNT://HOST", p), S_OK);
    EXPECT_EQ(p.Computer(), u"HOST");
    EXPECT_EQ(p.Name(), u"");
    EXPECT_EQ(p.ClassHint(), WinNTPath::Kind::Computer);

    ASSERT_EQ(WinNTPath::Parse(u"winnt://host,Computer", p), S_OK);
    EXPECT_EQ(p.Computer(), u"host");
    EXPECT_EQ(p.ClassHint(), WinNTPath::Kind::Computer);

    ASSERT_EQ(WinNTPath::Parse(u"WinNT://host/root", p), S_OK);
    EXPECT_EQ(p.Name(), u"root");
    EXPECT_EQ(p.ClassHint(), WinNTPath::Kind::Any);

    ASSERT_EQ(WinNTPath::Parse(u"WinNT://host/root,GROUP", p), S_OK);
    EXPECT_EQ(p.Name(), u"root");
    EXPECT_EQ(p.ClassHint(), WinNTPath::Kind::Group);

    // A comma not followed by a class word belongs to the name.
    ASSERT_EQ(WinNTPath::Parse(u"WinNT://host/a,b", p), S_OK);
    EXPECT_EQ(p.Name(), u"a,b");
    ASSERT_EQ(WinNTPath::Parse(u"WinNT://host/a,b,user", p), S_OK);
    EXPECT_EQ(p.Name(), u"a,b");
    EXPECT_EQ(p.ClassHint(), WinNTPath::Kind::User);
}

TEST(WinNTPath, FormatNamesTheKindAndParsesBack)
{
    EXPECT_EQ(WinNTPath::Format(u"host"), u"WinNT://host");
    std::u16string user = WinNTPath::Format(u"host", u"root", WinNTPath::Kind::User);
    EXPECT_EQ(user, u"WinNT://host/root,user");
    WinNTPath p;
    ASSERT_EQ(WinNTPath::Parse(user, p), S_OK);
    EXPECT_EQ(p.Name(), u"root");
    EXPECT_EQ(p.ClassHint(), WinNTPath::Kind::User);
    EXPECT_EQ(WinNTPath::Format(u"host", u"wheel", WinNTPath::Kind::Group), u"WinNT://host/wheel,group");
}

TEST(WinNTPath, MalformedPathsAreRefused)
{
    for (const char16_t* text : {u"", u"WinNT:", u"WinNT://", u"WinNT:///root", u"WinNT://host/", u"WinNT://host/a/b",
                                 u"WinNT://host,user", u"WinNT://host/root,computer", u"WinNT://,computer",
                                 u"LDAP://host", u"WinNT://dom,x/root"}) {
        WinNTPath p;
        EXPECT_EQ(WinNTPath::Parse(text, p), E_ADS_BAD_PATHNAME) << std::u16string(text).size();
    }
}
