#pragma once
// SYSTEMTIME and FILETIME, and conversions between them and POSIX time.

#include "platform/win/WinTypes.h"

#include <ctime>

// Guarded: the snap-in headers, which stand alone, declare the same structure.
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
static_assert(sizeof(SYSTEMTIME) == 16);

// 100-nanosecond intervals since 1601-01-01 00:00 UTC.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
static_assert(sizeof(FILETIME) == 8);

void GetSystemTime(SYSTEMTIME* out); // UTC
void GetLocalTime(SYSTEMTIME* out);  // the process's local time zone
void GetSystemTimeAsFileTime(FILETIME* out); // UTC

// FALSE (with ERROR_INVALID_PARAMETER as last error) for a field out of range.
BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);
BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
LONGLONG DaysFromCivil(LONGLONG year, unsigned month, unsigned day);
void CivilFromDays(LONGLONG days, LONGLONG& year, unsigned& month, unsigned& day);
unsigned DaysInMonth(unsigned year, unsigned month);

ULONGLONG FileTimeToUInt64(const FILETIME& ft);
FILETIME FileTimeFromUInt64(ULONGLONG value);

FILETIME FileTimeFromTimespec(const std::timespec& ts);
std::timespec TimespecFromFileTime(const FILETIME& ft);

// The UTC SYSTEMTIME of a POSIX time.
SYSTEMTIME SystemTimeFromTimespec(const std::timespec& ts);
