#pragma once
// One entry of a user-list enumeration: a tag whose meaning is the
// enumeration's, a name, and a second text (a directory path, or empty).

#include "platform/win/WinTypes.h"

#include <string_view>

// Text of an entry, NUL-terminated, kept in its list's pool on the process
// heap; it lives as long as the entry.
class HeapText : public std::string_view {
public:
    HeapText() : std::string_view("", 0) {}
    HeapText(const char* text, size_t size) : std::string_view(text, size) {}
    const char* c_str() const { return data(); }
};

struct HeapNameEntry {
    DWORD tag = 0;
    HeapText name;
    HeapText second;
};
