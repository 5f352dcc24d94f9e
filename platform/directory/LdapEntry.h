#pragma once
// One entry as a search returned it: its dn and its attributes with their
// raw values (UTF-8 text, or bytes for binary attributes).

#include <string>
#include <string_view>
#include <vector>

struct LdapEntry {
    struct Attribute {
        std::string name;
        std::vector<std::string> values;
    };

    std::string dn;
    std::vector<Attribute> attributes;

    // The values of an attribute by name (ASCII case ignored), or null.
    const std::vector<std::string>* Values(std::string_view name) const;
    // Whether the attribute holds value (ASCII case ignored in both).
    bool HasValue(std::string_view name, std::string_view value) const;
};
