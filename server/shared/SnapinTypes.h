#pragma once
// The base types of the snap-in contract, so that its headers stand alone for
// snap-in authors. The aliases repeat the server's own (a repeated alias of
// the same type is allowed); SYSTEMTIME is shared through its guard.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HRESULT = std::int32_t;

#ifndef TQ_SYSTEMTIME_DEFINED
#define TQ_SYSTEMTIME_DEFINED
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
#endif

// Access words of IFileIO::OpenFile, as the platform numbers them.
#ifndef TQ_GENERIC_ACCESS_DEFINED
#define TQ_GENERIC_ACCESS_DEFINED
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD GENERIC_EXECUTE = 0x20000000u;
constexpr DWORD GENERIC_ALL = 0x10000000u;
#endif
