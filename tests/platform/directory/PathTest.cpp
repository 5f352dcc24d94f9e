// Parsing and forming the two kinds of directory paths.
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapPath.h"
#include "platform/directory/WinNTPath.h"

#include <gtest/gtest.h>

TEST(CLdapPath, ServerPortAndDn)
{
    CLdapPath p;
    ASSERT_EQ(CLdapPath::Parse(u"LDAP://dc1.example.test:3890/OU=Sales,DC=example,DC=test", p), S_OK);
    EXPECT_EQ(p.Server(), "dc1.example.test:3890");
    EXPECT_EQ(p.Host(), "dc1.example.test");
    EXPECT_EQ(p.Port(), 3890);
    EXPECT_EQ(p.Dn(), "OU=Sales,DC=example,DC=test");
    EXPECT_EQ(p.Uri(), "ldap://dc1.example.test:3890");
}

TEST(CLdapPath, ServerAloneTakesTheDefaultPortAndNoDn)
{
    for (const char16_t* text : {u"LDAP://dc1", u"LDAP://dc1/", u"ldap://dc1"}) {
        CLdapPath p;
        ASSERT_EQ(CLdapPath::Parse(text, p), S_OK);
        EXPECT_EQ(p.Server(), "dc1");
        EXPECT_EQ(p.Port(), 389);
        EXPECT_EQ(p.Dn(), "");
    }
}

TEST(CLdapPath, BracketedIpv6Server)
{
    CLdapPath p;
    ASSERT_EQ(CLdapPath::Parse(u"LDAP://[::1]:636/dc=x", p), S_OK);
    EXPECT_EQ(p.Host(), "::1");
    EXPECT_EQ(p.Port(), 636);
    EXPECT_EQ(p.Server(), "[::1]:636");
    EXPECT_EQ(p.Uri(), "ldap://[::1]:636");
}

TEST(CLdapPath, EscapedSlashInTheDnRoundTrips)
{
    CLdapPath p;
    ASSERT_EQ(CLdapPath::Parse(u"LDAP://h/cn=North\\/South,dc=x", p), S_OK);
    EXPECT_EQ(p.Dn(), "cn=North/South,dc=x");
    EXPECT_EQ(CLdapPath::Format("h", p.Dn()), u"LDAP://h/cn=North\\/South,dc=x");
    // A DN's own backslash escapes stay as they are.
    ASSERT_EQ(CLdapPath::Parse(u"LDAP://h/cn=Smith\\, John,dc=x", p), S_OK);
    EXPECT_EQ(p.Dn(), "cn=Smith\\, John,dc=x");
    EXPECT_EQ(CLdapPath::Format("h", ""), u"LDAP://h");
}

TEST(CLdapPath, NonAsciiDnIsCarriedAsUtf8)
{
    CLdapPath p;
    ASSERT_EQ(CLdapPath::Parse(u"LDAP://h/ou=M\u00fcnchen", p), S_OK);
    EXPECT_EQ(p.Dn(), "ou=M\xc3\xbcnchen");
    EXPECT_EQ(CLdapPath::Format("h", p.Dn()), u"LDAP://h/ou=M\u00fcnchen");
}

TEST(CLdapPath, MalformedPathsAreRefused)
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
        CLdapPath p;
        EXPECT_EQ(CLdapPath::Parse(text, p), E_ADS_BAD_PATHNAME) << std::string(text.begin(), text.end());
    }
}

TEST(CWinNTPath, ComputerAndAccounts)
{
    CWinNTPath p;
    ASSERT_EQ(CWinNTPath::Parse(u"WinNT://HOST", p), S_OK);
    EXPECT_EQ(p.Computer(), u"HOST");
    EXPECT_EQ(p.Name(), u"");
    EXPECT_EQ(p.ClassHint(), CWinNTPath::Kind::Computer);

    ASSERT_EQ(CWinNTPath::Parse(u"winnt://host,Computer", p), S_OK);
    EXPECT_EQ(p.Computer(), u"host");
    EXPECT_EQ(p.ClassHint(), CWinNTPath::Kind::Computer);

    ASSERT_EQ(CWinNTPath::Parse(u"WinNT://host/root", p), S_OK);
    EXPECT_EQ(p.Name(), u"root");
    EXPECT_EQ(p.ClassHint(), CWinNTPath::Kind::Any);

    ASSERT_EQ(CWinNTPath::Parse(u"WinNT://host/root,GROUP", p), S_OK);
    EXPECT_EQ(p.Name(), u"root");
    EXPECT_EQ(p.ClassHint(), CWinNTPath::Kind::Group);

    // A comma not followed by a class word belongs to the name.
    ASSERT_EQ(CWinNTPath::Parse(u"WinNT://host/a,b", p), S_OK);
    EXPECT_EQ(p.Name(), u"a,b");
    ASSERT_EQ(CWinNTPath::Parse(u"WinNT://host/a,b,user", p), S_OK);
    EXPECT_EQ(p.Name(), u"a,b");
    EXPECT_EQ(p.ClassHint(), CWinNTPath::Kind::User);
}

TEST(CWinNTPath, FormatNamesTheKindAndParsesBack)
{
    EXPECT_EQ(CWinNTPath::Format(u"host"), u"WinNT://host");
    std::u16string user = CWinNTPath::Format(u"host", u"root", CWinNTPath::Kind::User);
    EXPECT_EQ(user, u"WinNT://host/root,user");
    CWinNTPath p;
    ASSERT_EQ(CWinNTPath::Parse(user, p), S_OK);
    EXPECT_EQ(p.Name(), u"root");
    EXPECT_EQ(p.ClassHint(), CWinNTPath::Kind::User);
    EXPECT_EQ(CWinNTPath::Format(u"host", u"wheel", CWinNTPath::Kind::Group), u"WinNT://host/wheel,group");
}

TEST(CWinNTPath, MalformedPathsAreRefused)
{
    for (const char16_t* text : {u"", u"WinNT:", u"WinNT://", u"WinNT:///root", u"WinNT://host/", u"WinNT://host/a/b",
                                 u"WinNT://host,user", u"WinNT://host/root,computer", u"WinNT://,computer",
                                 u"LDAP://host", u"WinNT://dom,x/root"}) {
        CWinNTPath p;
        EXPECT_EQ(CWinNTPath::Parse(text, p), E_ADS_BAD_PATHNAME) << std::u16string(text).size();
    }
}
