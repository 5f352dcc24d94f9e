// Distinguished names, filter values, text conversions and result codes.
#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/LdapDn.h"
#include "platform/directory/LdapError.h"
#include "platform/directory/Utf.h"

#include <gtest/gtest.h>
#include <ldap.h>

TEST(CLdapDn, FirstRdnStopsAtTheFirstPlainComma)
{
    EXPECT_EQ(CLdapDn::FirstRdn("cn=Sales,dc=x,dc=y"), "cn=Sales");
    EXPECT_EQ(CLdapDn::FirstRdn("cn=Smith\\, John,ou=People"), "cn=Smith\\, John");
    EXPECT_EQ(CLdapDn::FirstRdn("cn=\"Smith, John\",ou=People"), "cn=\"Smith, John\"");
    EXPECT_EQ(CLdapDn::FirstRdn("cn=a\\\\,dc=x"), "cn=a\\\\");
    EXPECT_EQ(CLdapDn::FirstRdn(" cn=a , dc=x"), "cn=a");
    EXPECT_EQ(CLdapDn::FirstRdn("cn=a+uid=b,dc=x"), "cn=a+uid=b");
    EXPECT_EQ(CLdapDn::FirstRdn("dc=x"), "dc=x");
    EXPECT_EQ(CLdapDn::FirstRdn(""), "");
    EXPECT_EQ(CLdapDn::FirstRdn("cn=trailing\\"), "cn=trailing\\");
}

TEST(CLdapDn, ParentAndSuffix)
{
    EXPECT_EQ(CLdapDn::Parent("cn=a\\,b,ou=Sales, dc=x"), "ou=Sales, dc=x");
    EXPECT_EQ(CLdapDn::Parent("dc=x"), "");
    EXPECT_TRUE(CLdapDn::HasSuffix("cn=a,ou=Sales,dc=example,dc=test", "DC=Example, DC=Test"));
    EXPECT_TRUE(CLdapDn::HasSuffix("dc=example,dc=test", "dc=example,dc=test"));
    EXPECT_TRUE(CLdapDn::HasSuffix("dc=x", ""));
    // Only whole components count, and an escaped comma is not a boundary.
    EXPECT_FALSE(CLdapDn::HasSuffix("cn=a,dc=myexample,dc=test", "dc=example,dc=test"));
    EXPECT_FALSE(CLdapDn::HasSuffix("cn=a\\,dc=example,dc=test", "dc=example,dc=test"));
    EXPECT_TRUE(CLdapDn::HasSuffix("cn=a\\\\,dc=example,dc=test", "dc=example,dc=test"));
    EXPECT_FALSE(CLdapDn::HasSuffix("dc=test", "dc=example,dc=test"));
}

TEST(CLdapDn, FilterValuesCannotWidenOrBreakAFilter)
{
    EXPECT_EQ(CLdapDn::EscapeFilterValue("carol"), "carol");
    EXPECT_EQ(CLdapDn::EscapeFilterValue("*"), "\\2a");
    EXPECT_EQ(CLdapDn::EscapeFilterValue("a)(uid=*"), "a\\29\\28uid=\\2a");
    EXPECT_EQ(CLdapDn::EscapeFilterValue(std::string("a\\b\0c", 5)), "a\\5cb\\00c");
}

TEST(Utf, RoundTripsEveryPlane)
{
    std::u16string text = u"A\u00fc\u20ac\U0001F600z";
    std::string utf8 = Utf16ToUtf8(text);
    EXPECT_EQ(utf8, "A\xc3\xbc\xe2\x82\xac\xf0\x9f\x98\x80z");
    EXPECT_EQ(Utf8ToUtf16(utf8), text);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_TRUE(IsValidUtf16(text));
}

TEST(Utf, MalformedInputBecomesReplacementCharacters)
{
    EXPECT_EQ(Utf8ToUtf16("a\xff" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xc3"), u"\uFFFD");                 // cut short
    EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD\uFFFD");       // overlong "/"
    EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16("\xf4\x90\x80\x80").size(), 4u);    // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xff"));
    EXPECT_FALSE(IsValidUtf8("\xc3"));
    EXPECT_TRUE(IsValidUtf8("\xef\xbf\xbd")); // a genuine U+FFFD
    EXPECT_EQ(Utf16ToUtf8(u"a\xD800"), "a\xef\xbf\xbd");
    EXPECT_EQ(Utf16ToUtf8(u"\xDC00z"), "\xef\xbf\xbdz");
    EXPECT_FALSE(IsValidUtf16(u"\xD800"));
    EXPECT_FALSE(IsValidUtf16(u"\xDC00\xD800"));
}

TEST(LdapError, ResultCodesMapToTheirWin32Counterparts)
{
    EXPECT_EQ(LdapResultToHResult(LDAP_SUCCESS), S_OK);
    EXPECT_EQ(static_cast<DWORD>(LdapResultToHResult(LDAP_INVALID_CREDENTIALS)), 0x8007052Eu);
    EXPECT_EQ(static_cast<DWORD>(LdapResultToHResult(LDAP_NO_SUCH_OBJECT)), 0x80072030u);
    EXPECT_EQ(static_cast<DWORD>(LdapResultToHResult(LDAP_SERVER_DOWN)), 0x8007203Au);
    EXPECT_EQ(static_cast<DWORD>(LdapResultToHResult(LDAP_CONNECT_ERROR)), 0x8007203Au);
    EXPECT_EQ(LdapResultToHResult(LDAP_TIMEOUT), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_EQ(LdapResultToHResult(LDAP_INSUFFICIENT_ACCESS), E_ACCESSDENIED);
    EXPECT_EQ(LdapResultToHResult(LDAP_UNWILLING_TO_PERFORM), HRESULT_FROM_WIN32(ERROR_DS_UNWILLING_TO_PERFORM));
    EXPECT_EQ(LdapResultToHResult(LDAP_NO_MEMORY), E_OUTOFMEMORY);
    EXPECT_EQ(LdapResultToHResult(LDAP_OTHER), E_FAIL);
    EXPECT_EQ(LdapResultToHResult(12345), E_FAIL);
}
