#include "platform/directory/LdapDn.h"

namespace {

// Index of the comma that ends the first RDN, or dn.size().
size_t FirstSeparator(std::string_view dn)
{
    bool quoted = false;
    for (size_t i = 0; i < dn.size(); ++i) {
        char c = dn[i];
        if (c == '\\')
            ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            return i;
    }
    return dn.size();
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// Lower-case ASCII with the spaces around commas dropped.
std::string Fold(std::string_view dn)
{
    std::string out;
    out.reserve(dn.size());
    for (size_t i = 0; i < dn.size(); ++i) {
        char c = dn[i];
        if (c == ' ' && ((!out.empty() && out.back() == ',') || (i + 1 < dn.size() && dn[i + 1] == ',')))
            continue;
        out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return out;
}

} // namespace

std::string_view CLdapDn::FirstRdn(std::string_view dn)
{
    return Trim(dn.substr(0, FirstSeparator(dn)));
}

std::string_view CLdapDn::Parent(std::string_view dn)
{
    size_t at = FirstSeparator(dn);
    return at >= dn.size() ? std::string_view() : Trim(dn.substr(at + 1));
}

bool CLdapDn::HasSuffix(std::string_view dn, std::string_view suffix)
{
    std::string d = Fold(Trim(dn));
    std::string s = Fold(Trim(suffix));
    if (s.empty())
        return true;
    if (d.size() < s.size() || d.compare(d.size() - s.size(), s.size(), s) != 0)
        return false;
    if (d.size() == s.size())
        return true;
    // The suffix must start a component: an unescaped comma stands before it.
    size_t before = d.size() - s.size() - 1;
    if (d[before] != ',')
        return false;
    size_t backslashes = 0;
    for (size_t i = before; i > 0 && d[i - 1] == '\\'; --i)
        ++backslashes;
    return backslashes % 2 == 0;
}

std::string CLdapDn::EscapeFilterValue(std::string_view value)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
            unsigned char u = static_cast<unsigned char>(c);
            out.push_back('\\');
            out.push_back(hex[u >> 4]);
            out.push_back(hex[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}
