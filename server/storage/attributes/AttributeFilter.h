#pragma once
// The callback of FindAttributes: non-zero takes the attribute. The handle
// it gets is released after the call; userData is passed through unchanged.

#include "platform/win/WinTypes.h"

#include <cstdint>

class CAttribute;

using AttributeFilter = BOOL (*)(CAttribute* attribute, std::uintptr_t userData);
