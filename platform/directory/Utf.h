#pragma once
// UTF-8 and UTF-16 conversions for the directory layer, whose callers speak
// UTF-16 and whose sources (LDAP, the account files) speak UTF-8.

#include <string>
#include <string_view>

// Malformed sequences become U+FFFD, one per offending byte.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
bool IsValidUtf8(std::string_view text);
// Whether every surrogate is paired.
bool IsValidUtf16(std::u16string_view text);

// Comparisons that ignore the case of ASCII letters only, as directory
// prefixes, class names and attribute names are compared.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix);

// What follows a directory path's provider prefix ("LDAP://", "WinNT://");
// false when the path does not start with it, is not well-formed UTF-16 or
// holds a NUL.
bool PathAfterPrefix(std::u16string_view path, std::u16string_view prefix, std::u16string_view& rest);
