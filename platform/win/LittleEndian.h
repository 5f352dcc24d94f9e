#pragma once
// Unsigned words in little-endian byte order, the order of every stored and
// wire format of the system, whatever the processor's own.

#include "platform/win/WinTypes.h"

inline DWORD ReadLittleEndian32(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

inline WORD ReadLittleEndian16(const BYTE* p)
{
    return static_cast<WORD>(p[0] | p[1] << 8);
}

// Returns the byte after the word.
inline BYTE* WriteLittleEndian32(BYTE* p, DWORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
    p[2] = static_cast<BYTE>(v >> 16);
    p[3] = static_cast<BYTE>(v >> 24);
    return p + 4;
}

inline BYTE* WriteLittleEndian16(BYTE* p, WORD v)
{
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
    return p + 2;
}
