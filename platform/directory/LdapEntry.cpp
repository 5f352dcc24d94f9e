#include "platform/directory/LdapEntry.h"

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

const std::vector<std::string>* LdapEntry::Values(std::string_view name) const
{
    for (const Attribute& a : attributes)
        if (EqualsNoCase(a.name, name))
            return &a.values;
    return nullptr;
}

bool LdapEntry::HasValue(std::string_view name, std::string_view value) const
{
    const std::vector<std::string>* values = Values(name);
    if (values == nullptr)
        return false;
    for (const std::string& v : *values)
        if (EqualsNoCase(v, value))
            return true;
    return false;
}
