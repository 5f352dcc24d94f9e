#pragma once
// In-items of a call record as the handlers take them.

#include "common/callrecord/InvokeData.h"

#include <memory>
#include <string>

// The room a handler gives a name: longer names are cut to 259 characters.
inline constexpr DWORD kCallNameSize = 260;

// The next in-item as a name; "" when there is none.
std::string PopName(CInvokeData* record);

// The next in-item as a number; 0 when there is none.
DWORD PopDword(CInvokeData* record);

// The next in-item's bytes, *length of them; null for a missing or empty item.
std::unique_ptr<BYTE[]> PopBytes(CInvokeData* record, DWORD* length);

// A text item as a NUL-terminated copy, taken up to its first NUL and never
// past the item; null for a missing or empty item.
std::unique_ptr<char[]> PopText(CInvokeData* record, DWORD* length);
