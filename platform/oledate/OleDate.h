#pragma once
// OLE automation dates: a double counting days since 1899-12-30 00:00, whose
// fraction is the time of day. Before that day the whole part counts back
// while the fraction still counts forward: -1.25 is 1899-12-29 06:00.
//
// Text goes in one fixed form, the one of a default US-English user locale,
// which reads back to the same second:
//   "M/D/YYYY h:mm:ss AM"  date and time
//   "M/D/YYYY"             midnight
//   "h:mm:ss AM"           a time on 1899-12-30 (the zero date)
// The reader also takes SQLite's own "YYYY-MM-DD HH:MM:SS" (and its date
// alone), and 24-hour times without AM/PM.

#include "platform/win/Time.h"
#include "platform/win/WinTypes.h"

#include <string>

using DATE = double;
using LCID = DWORD;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;

constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);

// The range of an OLE date: 100-01-01 to 9999-12-31 23:59:59.
constexpr DATE kOleDateMin = -657434.0;
constexpr DATE kOleDateMax = 2958465.0 + 86399.0 / 86400.0;

// TRUE and the date, or FALSE for a field out of range (years 100 to 9999).
// Milliseconds and the day of the week are not looked at.
INT SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out);

// TRUE and the time rounded to the nearest second (milliseconds 0, day of
// week filled in), or FALSE for a date out of range or not a number.
INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* out);

// The date as text in the fixed form above; DISP_E_OVERFLOW out of range.
// The locale and flags are accepted for the callers' sake; the form is fixed.
HRESULT VarBstrFromDate(DATE date, LCID locale, ULONG flags, std::string* out);

// Reads any of the forms above, with blanks around it allowed.
// DISP_E_TYPEMISMATCH for text that is no date, DISP_E_OVERFLOW for a date
// out of range, E_INVALIDARG for null pointers.
HRESULT VarDateFromStr(const char* text, LCID locale, ULONG flags, DATE* out);
