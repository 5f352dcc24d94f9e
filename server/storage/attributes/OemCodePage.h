#pragma once
// Conversion between UTF-16 and the OEM code page, which is how names and
// string values cross the attribute store's interfaces. The OEM page is code
// page 437: bytes 0x00-0x7F are ASCII, 0x80-0xFF its accented letters, Greek
// letters, box drawing and symbols.
//
// Every OEM byte has one UTF-16 character, so OEM text survives a round trip
// through UTF-16 unchanged. A UTF-16 character that code page 437 lacks
// becomes '?' (no nearest-letter substitution); a surrogate pair, or a lone
// surrogate, becomes a single '?'.

#include <cstddef>
#include <string>
#include <string_view>

// The text up to its first zero byte, or up to length bytes when that comes first.
std::u16string OemToWide(const char* text, std::size_t length = std::string_view::npos);

// The text up to its first zero unit.
std::string WideToOem(std::u16string_view text);
