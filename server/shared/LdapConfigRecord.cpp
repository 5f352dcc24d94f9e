#include "server/shared/LdapConfigRecord.h"

#include <cstring>

std::string LdapConfigRecord::FieldText(const char (&field)[kFieldSize])
{
    const void* nul = std::memchr(field, 0, kFieldSize - 1);
    size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - field) : kFieldSize - 1;
    return std::string(field, n);
}

void LdapConfigRecord::SetField(char (&field)[kFieldSize], std::string_view text)
{
    std::memset(field, 0, kFieldSize);
    std::memcpy(field, text.data(), text.size() < kFieldSize - 1 ? text.size() : kFieldSize - 1);
}

void LdapConfigRecord::Clear()
{
    std::memset(this, 0, sizeof *this);
}
