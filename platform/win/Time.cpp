#include "platform/win/Time.h"

#include "platform/win/LastError.h"

#include <chrono>

namespace {

constexpr ULONGLONG kTicksPerSecond = 10'000'000ULL;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr LONGLONG kEpochDeltaSeconds = 11'644'473'600LL;

SYSTEMTIME FromSecondsAndMillis(LONGLONG secs, unsigned millis)
{
    LONGLONG days = secs / 86400;
    LONGLONG rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    LONGLONG y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    st.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
    st.wHour = static_cast<WORD>(rem / 3600);
    st.wMinute = static_cast<WORD>(rem % 3600 / 60);
    st.wSecond = static_cast<WORD>(rem % 60);
    st.wMilliseconds = static_cast<WORD>(millis);
    return st;
}

} // namespace

LONGLONG DaysFromCivil(LONGLONG y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const LONGLONG era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<LONGLONG>(doe) - 719468;
}

void CivilFromDays(LONGLONG z, LONGLONG& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const LONGLONG era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<LONGLONG>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

unsigned DaysInMonth(unsigned y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

ULONGLONG FileTimeToUInt64(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME FileTimeFromUInt64(ULONGLONG value)
{
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out)
{
    if (in == nullptr || out == nullptr || in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 ||
        in->wMonth > 12 || in->wDay < 1 || in->wDay > DaysInMonth(in->wYear, in->wMonth) || in->wHour > 23 ||
        in->wMinute > 59 || in->wSecond > 59 || in->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LONGLONG secs = DaysFromCivil(in->wYear, in->wMonth, in->wDay) * 86400 + in->wHour * 3600 + in->wMinute * 60 +
                    in->wSecond + kEpochDeltaSeconds;
    ULONGLONG ticks = static_cast<ULONGLONG>(secs) * kTicksPerSecond + in->wMilliseconds * 10'000ULL;
    *out = FileTimeFromUInt64(ticks);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out)
{
    if (in == nullptr || out == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONGLONG ticks = FileTimeToUInt64(*in);
    if (ticks >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LONGLONG secs = static_cast<LONGLONG>(ticks / kTicksPerSecond) - kEpochDeltaSeconds;
    *out = FromSecondsAndMillis(secs, static_cast<unsigned>(ticks % kTicksPerSecond / 10'000));
    return TRUE;
}

FILETIME FileTimeFromTimespec(const std::timespec& ts)
{
    LONGLONG secs = static_cast<LONGLONG>(ts.tv_sec) + kEpochDeltaSeconds;
    if (secs < 0)
        return FILETIME{0, 0};
    return FileTimeFromUInt64(static_cast<ULONGLONG>(secs) * kTicksPerSecond +
                              static_cast<ULONGLONG>(ts.tv_nsec) / 100);
}

std::timespec TimespecFromFileTime(const FILETIME& ft)
{
    ULONGLONG ticks = FileTimeToUInt64(ft);
    std::timespec ts{};
    ts.tv_sec = static_cast<std::time_t>(static_cast<LONGLONG>(ticks / kTicksPerSecond) - kEpochDeltaSeconds);
    ts.tv_nsec = static_cast<long>(ticks % kTicksPerSecond * 100);
    return ts;
}

SYSTEMTIME SystemTimeFromTimespec(const std::timespec& ts)
{
    return FromSecondsAndMillis(ts.tv_sec, static_cast<unsigned>(ts.tv_nsec / 1'000'000));
}

void GetSystemTime(SYSTEMTIME* out)
{
    std::timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    *out = SystemTimeFromTimespec(ts);
}

void GetSystemTimeAsFileTime(FILETIME* out)
{
    std::timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    *out = FileTimeFromTimespec(ts);
}

void GetLocalTime(SYSTEMTIME* out)
{
    std::timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    // Shift by the zone's offset and reuse the UTC conversion, which also gives the weekday.
    std::timespec local = ts;
    local.tv_sec += tm.tm_gmtoff;
    *out = SystemTimeFromTimespec(local);
}
