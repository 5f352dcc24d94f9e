#pragma once
// The little of distinguished names and search filters the directory layer
// needs, on UTF-8 text.

#include <string>
#include <string_view>

class CLdapDn {
public:
    // "cn=Smith\, John" of "cn=Smith\, John,ou=Sales,dc=x": up to the first
    // comma that is neither escaped nor quoted, surrounding spaces trimmed.
    static std::string_view FirstRdn(std::string_view dn);
    // What follows the first RDN; empty for a one-component dn.
    static std::string_view Parent(std::string_view dn);
    // Whether dn ends with the whole components of suffix (ASCII case and
    // spaces after commas ignored); every dn has the empty suffix.
    static bool HasSuffix(std::string_view dn, std::string_view suffix);
    // A value made safe for a filter: "*", "(", ")", "\" and NUL escaped.
    static std::string EscapeFilterValue(std::string_view value);
};
