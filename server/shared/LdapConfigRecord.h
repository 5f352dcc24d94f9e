#pragma once
// The four directory-server settings as codes 2032 and 2033 carry them: four
// NUL-terminated char[260] fields, 1040 bytes in memory and on the wire.

#include <cstddef>
#include <string>
#include <string_view>

struct LdapConfigRecord {
    static constexpr size_t kFieldSize = 260;

    char server[kFieldSize];
    char account[kFieldSize];
    char password[kFieldSize];
    char container[kFieldSize];

    // The field's text: up to its NUL, and at most 259 characters when a
    // field carries none.
    static std::string FieldText(const char (&field)[kFieldSize]);
    // Stores at most 259 characters of text and zeroes the rest of the field.
    static void SetField(char (&field)[kFieldSize], std::string_view text);

    // All 1040 bytes zero.
    void Clear();
};

static_assert(sizeof(LdapConfigRecord) == 1040);
static_assert(offsetof(LdapConfigRecord, account) == 260);
static_assert(offsetof(LdapConfigRecord, password) == 520);
static_assert(offsetof(LdapConfigRecord, container) == 780);
