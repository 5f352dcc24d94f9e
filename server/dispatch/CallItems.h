#pragma once
// In-items of a call record as the handlers take them.

#include "common/callrecord/InvokeData.h"

#include <string>

// The room a handler gives a name: longer names are cut to 259 characters.
inline constexpr DWORD kCallNameSize = 260;

// The next in-item as a name; "" when there is none.
std::string PopName(CInvokeData* record);
