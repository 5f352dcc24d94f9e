#pragma once
// Text comparisons of the attribute store. Letters are folded A-Z to a-z
// only, the same in UTF-16 and in OEM text, so a comparison never depends on
// the machine's locale.

#include <string>

namespace attrib {

// A name or string value as the query indexes see it: possibly missing (a
// record without a name or value buffer), else UTF-16 text.
struct TextKey {
    bool present = false;
    std::u16string text;
};

// Case-insensitive; a missing text after every present one.
struct TextKeyLess {
    bool operator()(const TextKey& a, const TextKey& b) const;
};

// Equal lengths and case-insensitively equal characters; a missing text
// counts as empty.
bool TextKeyEquals(const TextKey& a, const TextKey& b);

// Both empty: match. A missing pattern matches only a missing key; a missing
// key matches no present pattern; else the wildcard match of pattern on key.
bool TextKeyMatches(const TextKey& pattern, const TextKey& key);

bool NamesEqual(const std::u16string& a, const std::u16string& b);
bool NarrowEqualNoCase(const char* a, const char* b);

// Order of the sub-directory name map: bytes compared with ASCII letters
// folded, the shorter of two names with equal prefixes first.
struct OemNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

} // namespace attrib
