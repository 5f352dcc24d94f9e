#pragma once
// GUIDs in their in-memory layout, and the two text forms the system uses.

#include "platform/win/WinTypes.h"

#include <string>

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);

inline constexpr GUID GUID_NULL{};

// A new random (version 4) GUID. RPC_S_OK, or RPC_S_UUID_NO_ADDRESS when the
// system has no source of randomness.
RPC_STATUS UuidCreate(GUID* out);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower-case, no braces.
std::string UuidToString(const GUID& guid);

// Reads the 36-character form, with or without braces, either case.
// RPC_S_OK or RPC_S_INVALID_STRING_UUID.
RPC_STATUS UuidFromString(const std::string& text, GUID* out);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case, as registry key names spell it.
std::string GuidToBracedString(const GUID& guid);

// The 16 bytes of the GUID as they lie in memory and on the wire.
void GuidToBytes(const GUID& guid, BYTE out[16]);
GUID GuidFromBytes(const BYTE in[16]);
