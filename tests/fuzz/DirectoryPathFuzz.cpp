// Directory paths, distinguished names, filter values and account-file lines
// from arbitrary bytes. The first byte picks the reading; whatever parses
// must form back into text that parses to the same thing.
#include "platform/directory/LdapDn.h"
#include "platform/directory/LdapPath.h"
#include "platform/directory/LocalAccountDatabase.h"
#include "platform/directory/Utf.h"
#include "platform/directory/WinNTPath.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void Paths(std::u16string_view text)
{
    CLdapPath ldap;
    if (CLdapPath::Parse(text, ldap) == S_OK) {
        CLdapPath again;
        Check(CLdapPath::Parse(CLdapPath::Format(ldap.Server(), ldap.Dn()), again) == S_OK);
        Check(again.Server() == ldap.Server() && again.Host() == ldap.Host() && again.Port() == ldap.Port() &&
              again.Dn() == ldap.Dn());
        Check(ldap.Port() >= 1 && ldap.Port() <= 65535 && !ldap.Host().empty());
    }
    CWinNTPath nt;
    if (CWinNTPath::Parse(text, nt) == S_OK) {
        CWinNTPath again;
        Check(CWinNTPath::Parse(CWinNTPath::Format(nt.Computer(), nt.Name(), nt.ClassHint()), again) == S_OK);
        Check(again.Computer() == nt.Computer() && again.Name() == nt.Name());
        Check(!nt.Computer().empty());
    }
}

void Names(std::string_view text)
{
    std::string_view rdn = CLdapDn::FirstRdn(text);
    Check(rdn.size() <= text.size());
    CLdapDn::Parent(text);
    size_t half = text.size() / 2;
    CLdapDn::HasSuffix(text.substr(0, half), text.substr(half));
    Check(CLdapDn::HasSuffix(text, ""));
    // An escaped value leaves no character that could change a filter.
    for (char c : CLdapDn::EscapeFilterValue(text))
        Check(c != '*' && c != '(' && c != ')' && c != '\0');
    std::u16string wide = Utf8ToUtf16(text);
    Check(IsValidUtf16(wide));
    std::string back = Utf16ToUtf8(wide);
    Check(IsValidUtf8(back));
    if (IsValidUtf8(text))
        Check(back == text);
}

void AccountLines(std::string_view text)
{
    CLocalAccountDatabase::User user;
    if (CLocalAccountDatabase::ParseUserLine(text, user))
        Check(!user.name.empty() && user.name.find(':') == std::string::npos);
    CLocalAccountDatabase::Group group;
    if (CLocalAccountDatabase::ParseGroupLine(text, group))
        for (const std::string& m : group.members)
            Check(!m.empty() && m.find(',') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
    case 0: {
        std::u16string wide;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        Paths(wide);
        break;
    }
    case 1:
        Paths(Utf8ToUtf16(bytes));
        break;
    case 2:
        Names(bytes);
        break;
    default:
        AccountLines(bytes);
        break;
    }
    return 0;
}
