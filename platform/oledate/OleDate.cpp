#include "platform/oledate/OleDate.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

constexpr LONGLONG kSecondsPerDay = 86400;

const LONGLONG kZeroDay = DaysFromCivil(1899, 12, 30);

bool ValidDate(unsigned y, unsigned m, unsigned d)
{
    return m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

// Reads the text forms; every Read* leaves the cursor where it stopped.
class DateReader {
public:
    explicit DateReader(const char* text) : p_(text) {}

    HRESULT Read(SYSTEMTIME* st)
    {
        *st = SYSTEMTIME{};
        st->wYear = 1899;
        st->wMonth = 12;
        st->wDay = 30;
        SkipBlanks();
        const char* start = p_;
        bool ok = ReadIsoDate(st);
        if (ok) {
            // SQLite separates with a blank, ISO with a 'T'.
            if (*p_ == 'T' || *p_ == 't')
                ++p_;
            SkipBlanks();
            if (*p_ != '\0')
                ok = ReadTime(st, false);
        } else {
            p_ = start;
            ok = ReadUsDate(st);
            if (ok) {
                SkipBlanks();
                if (*p_ != '\0')
                    ok = ReadTime(st, true);
            } else {
                p_ = start;
                ok = ReadTime(st, true);
            }
        }
        SkipBlanks();
        if (!ok || *p_ != '\0')
            return DISP_E_TYPEMISMATCH;
        if (yearOutOfRange_)
            return DISP_E_OVERFLOW;
        return S_OK;
    }

private:
    void SkipBlanks()
    {
        while (*p_ == ' ' || *p_ == '\t')
            ++p_;
    }

    // 1 to maxDigits decimal digits.
    bool Number(unsigned maxDigits, unsigned* value, unsigned* digits = nullptr)
    {
        unsigned n = 0, v = 0;
        while (std::isdigit(static_cast<unsigned char>(*p_))) {
            if (++n > maxDigits)
                return false;
            v = v * 10 + static_cast<unsigned>(*p_ - '0');
            ++p_;
        }
        if (digits != nullptr)
            *digits = n;
        *value = v;
        return n > 0;
    }

    bool Char(char c)
    {
        if (*p_ != c)
            return false;
        ++p_;
        return true;
    }

    bool SetDate(SYSTEMTIME* st, unsigned y, unsigned m, unsigned d)
    {
        if (!ValidDate(y, m, d))
            return false;
        if (y < 100 || y > 9999)
            yearOutOfRange_ = true;
        st->wYear = static_cast<WORD>(y);
        st->wMonth = static_cast<WORD>(m);
        st->wDay = static_cast<WORD>(d);
        return true;
    }

    bool ReadIsoDate(SYSTEMTIME* st)
    {
        unsigned y, m, d, yd;
        if (!Number(4, &y, &yd) || yd != 4 || !Char('-') || !Number(2, &m) || !Char('-') || !Number(2, &d))
            return false;
        return SetDate(st, y, m, d);
    }

    bool ReadUsDate(SYSTEMTIME* st)
    {
        unsigned y, m, d, yd;
        if (!Number(2, &m) || !Char('/') || !Number(2, &d) || !Char('/') || !Number(4, &y, &yd))
            return false;
        // Two-digit years fall in 1930 to 2029; longer ones stand as written.
        if (yd <= 2)
            y += y < 30 ? 2000 : 1900;
        return SetDate(st, y, m, d);
    }

    bool ReadTime(SYSTEMTIME* st, bool allowHalfDay)
    {
        unsigned h, mi, s = 0;
        if (!Number(2, &h) || !Char(':') || !Number(2, &mi))
            return false;
        if (Char(':')) {
            if (!Number(2, &s))
                return false;
            // SQLite may add a fraction of a second; the date keeps whole seconds.
            if (Char('.')) {
                unsigned frac;
                if (!Number(9, &frac))
                    return false;
            }
        }
        SkipBlanks();
        if (allowHalfDay) {
            const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(p_[0])));
            const char b = a == '\0' ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(p_[1])));
            if ((a == 'A' || a == 'P') && b == 'M') {
                p_ += 2;
                if (h > 12)
                    return false;
                h = h % 12 + (a == 'P' ? 12 : 0);
            }
        }
        if (h > 23 || mi > 59 || s > 59)
            return false;
        st->wHour = static_cast<WORD>(h);
        st->wMinute = static_cast<WORD>(mi);
        st->wSecond = static_cast<WORD>(s);
        return true;
    }

    const char* p_;
    bool yearOutOfRange_ = false;
};

} // namespace

INT SystemTimeToVariantTime(const SYSTEMTIME* in, DATE* out)
{
    if (in == nullptr || out == nullptr)
        return FALSE;
    if (in->wYear < 100 || in->wYear > 9999 || !ValidDate(in->wYear, in->wMonth, in->wDay) || in->wHour > 23 ||
        in->wMinute > 59 || in->wSecond > 59)
        return FALSE;
    const LONGLONG days = DaysFromCivil(in->wYear, in->wMonth, in->wDay) - kZeroDay;
    const double time = static_cast<double>(in->wHour * 3600 + in->wMinute * 60 + in->wSecond) / kSecondsPerDay;
    *out = days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
    return TRUE;
}

INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* out)
{
    if (out == nullptr || !std::isfinite(date) || date < kOleDateMin - 1.0 || date > kOleDateMax + 1.0)
        return FALSE;
    const double whole = std::trunc(date);
    LONGLONG day = static_cast<LONGLONG>(whole);
    LONGLONG secs = std::llround(std::fabs(date - whole) * kSecondsPerDay);
    if (secs >= kSecondsPerDay) {
        // A time that rounds up to midnight is the next calendar day, on
        // either side of the zero date.
        ++day;
        secs = 0;
    }
    LONGLONG y;
    unsigned m, d;
    CivilFromDays(day + kZeroDay, y, m, d);
    if (y < 100 || y > 9999)
        return FALSE;
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(m);
    st.wDay = static_cast<WORD>(d);
    // 1899-12-30 was a Saturday.
    st.wDayOfWeek = static_cast<WORD>(((day % 7) + 7 + 6) % 7);
    st.wHour = static_cast<WORD>(secs / 3600);
    st.wMinute = static_cast<WORD>(secs % 3600 / 60);
    st.wSecond = static_cast<WORD>(secs % 60);
    *out = st;
    return TRUE;
}

HRESULT VarBstrFromDate(DATE date, LCID, ULONG, std::string* out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    SYSTEMTIME st;
    if (!VariantTimeToSystemTime(date, &st))
        return DISP_E_OVERFLOW;
    const bool zeroDate = st.wYear == 1899 && st.wMonth == 12 && st.wDay == 30;
    const bool midnight = st.wHour == 0 && st.wMinute == 0 && st.wSecond == 0;
    char dateText[32];
    char timeText[32];
    std::snprintf(dateText, sizeof dateText, "%u/%u/%u", st.wMonth, st.wDay, st.wYear);
    const unsigned h12 = st.wHour % 12 == 0 ? 12u : st.wHour % 12u;
    std::snprintf(timeText, sizeof timeText, "%u:%.2u:%.2u %s", h12, st.wMinute, st.wSecond,
                  st.wHour < 12 ? "AM" : "PM");
    if (zeroDate)
        *out = timeText;
    else if (midnight)
        *out = dateText;
    else
        *out = std::string(dateText) + " " + timeText;
    return S_OK;
}

HRESULT VarDateFromStr(const char* text, LCID, ULONG, DATE* out)
{
    if (text == nullptr || out == nullptr)
        return E_INVALIDARG;
    SYSTEMTIME st;
    HRESULT hr = DateReader(text).Read(&st);
    if (FAILED(hr))
        return hr;
    if (!SystemTimeToVariantTime(&st, out))
        return DISP_E_OVERFLOW;
    return S_OK;
}
