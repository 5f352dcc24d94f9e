#include "platform/directory/LdapEntry.h"

#include "platform/directory/Utf.h"

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
