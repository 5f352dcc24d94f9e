#include "platform/directory/LdapPath.h"

#include "platform/directory/DirectoryErrors.h"
#include "platform/directory/Utf.h"

namespace {

constexpr std::u16string_view kPrefix = u"LDAP://";
constexpr size_t kMaxHost = 253;

bool IsHostChar(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' ||
           c == u'_';
}

bool IsIpv6Char(char16_t c)
{
    return (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || (c >= u'0' && c <= u'9') || c == u':' || c == u'.';
}

bool ParsePort(std::u16string_view digits, int& port)
{
    if (digits.empty() || digits.size() > 5)
        return false;
    int value = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
    }
    if (value < 1 || value > 65535)
        return false;
    port = value;
    return true;
}

bool ParseServer(std::u16string_view server, std::string& host, int& port)
{
    std::u16string_view rest;
    std::u16string_view name;
    if (!server.empty() && server.front() == u'[') {
        size_t close = server.find(u']');
        if (close == std::u16string_view::npos || close == 1)
            return false;
        name = server.substr(1, close - 1);
        for (char16_t c : name)
            if (!IsIpv6Char(c))
                return false;
        rest = server.substr(close + 1);
    } else {
        size_t colon = server.find(u':');
        name = server.substr(0, colon);
        if (name.empty())
            return false;
        for (char16_t c : name)
            if (!IsHostChar(c))
                return false;
        rest = colon == std::u16string_view::npos ? std::u16string_view() : server.substr(colon);
    }
    if (name.size() > kMaxHost)
        return false;
    port = CLdapPath::kDefaultPort;
    if (!rest.empty()) {
        if (rest.front() != u':' || !ParsePort(rest.substr(1), port))
            return false;
    }
    host.assign(name.begin(), name.end());
    return true;
}

} // namespace

HRESULT CLdapPath::Parse(std::u16string_view path, CLdapPath& out)
{
    std::u16string_view rest;
    if (!PathAfterPrefix(path, kPrefix, rest))
        return E_ADS_BAD_PATHNAME;
    size_t slash = rest.find(u'/');
    std::u16string_view server = rest.substr(0, slash);
    // A first component with "=" is a dn: a path without a server.
    if (server.find(u'=') != std::u16string_view::npos)
        return E_ADS_BAD_PATHNAME;
    CLdapPath parsed;
    if (!ParseServer(server, parsed.host_, parsed.port_))
        return E_ADS_BAD_PATHNAME;
    parsed.server_.assign(server.begin(), server.end());
    if (slash != std::u16string_view::npos) {
        std::u16string_view escaped = rest.substr(slash + 1);
        std::u16string dn;
        dn.reserve(escaped.size());
        for (size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == u'\\' && i + 1 < escaped.size() && escaped[i + 1] == u'/')
                ++i;
            dn.push_back(escaped[i]);
        }
        parsed.dn_ = Utf16ToUtf8(dn);
    }
    out = std::move(parsed);
    return S_OK;
}

std::u16string CLdapPath::Format(std::string_view server, std::string_view dn)
{
    std::u16string path(kPrefix);
    path += Utf8ToUtf16(server);
    if (!dn.empty()) {
        path.push_back(u'/');
        for (char16_t c : Utf8ToUtf16(dn)) {
            if (c == u'/')
                path.push_back(u'\\');
            path.push_back(c);
        }
    }
    return path;
}

std::string CLdapPath::Uri() const
{
    bool v6 = host_.find(':') != std::string::npos;
    return "ldap://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}
