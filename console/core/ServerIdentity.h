#pragma once
// The machine's server identity, as the server program keeps it in the
// registry: the 16-byte REG_BINARY default value of CLSID\<class>.

#include "platform/win/Guid.h"

#include <optional>

// Nothing when the key or value is missing, or has another type or size.
std::optional<GUID> ReadServerIdentity();
