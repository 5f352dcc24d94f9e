#pragma once
// Loads and stores of integers in either byte order, as a data
// representation label asks.

#include "platform/win/WinTypes.h"

namespace ndr {

inline USHORT Load16(const BYTE* p, bool bigEndian)
{
    return bigEndian ? USHORT((p[0] << 8) | p[1]) : USHORT(p[0] | (p[1] << 8));
}

inline ULONG Load32(const BYTE* p, bool bigEndian)
{
    return bigEndian ? (ULONG(p[0]) << 24) | (ULONG(p[1]) << 16) | (ULONG(p[2]) << 8) | ULONG(p[3])
                     : ULONG(p[0]) | (ULONG(p[1]) << 8) | (ULONG(p[2]) << 16) | (ULONG(p[3]) << 24);
}

inline void Store16(BYTE* p, USHORT v, bool bigEndian)
{
    if (bigEndian) {
        p[0] = BYTE(v >> 8);
        p[1] = BYTE(v);
    } else {
        p[0] = BYTE(v);
        p[1] = BYTE(v >> 8);
    }
}

inline void Store32(BYTE* p, ULONG v, bool bigEndian)
{
    if (bigEndian) {
        p[0] = BYTE(v >> 24);
        p[1] = BYTE(v >> 16);
        p[2] = BYTE(v >> 8);
        p[3] = BYTE(v);
    } else {
        p[0] = BYTE(v);
        p[1] = BYTE(v >> 8);
        p[2] = BYTE(v >> 16);
        p[3] = BYTE(v >> 24);
    }
}

} // namespace ndr
