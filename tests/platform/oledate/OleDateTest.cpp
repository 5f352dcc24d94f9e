#include "platform/oledate/OleDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0)
{
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    return st;
}

DATE ToDate(const SYSTEMTIME& st)
{
    DATE d = -1e9;
    EXPECT_TRUE(SystemTimeToVariantTime(&st, &d));
    return d;
}

std::string Text(DATE d)
{
    std::string t;
    EXPECT_EQ(VarBstrFromDate(d, LOCALE_USER_DEFAULT, 0, &t), S_OK);
    return t;
}

void ExpectSame(const SYSTEMTIME& a, const SYSTEMTIME& b)
{
    EXPECT_EQ(a.wYear, b.wYear);
    EXPECT_EQ(a.wMonth, b.wMonth);
    EXPECT_EQ(a.wDay, b.wDay);
    EXPECT_EQ(a.wHour, b.wHour);
    EXPECT_EQ(a.wMinute, b.wMinute);
    EXPECT_EQ(a.wSecond, b.wSecond);
}

} // namespace

TEST(OleDate, CountsDaysFromTheZeroDate)
{
    EXPECT_EQ(ToDate(St(1899, 12, 30)), 0.0);
    EXPECT_EQ(ToDate(St(1899, 12, 31, 12)), 1.5);
    EXPECT_EQ(ToDate(St(1900, 1, 1, 6)), 2.25);
    EXPECT_EQ(ToDate(St(2000, 1, 1)), 36526.0);
    // Before the zero date the fraction still counts forward in the day.
    EXPECT_EQ(ToDate(St(1899, 12, 29, 6)), -1.25);
    EXPECT_EQ(ToDate(St(1899, 12, 28, 18)), -2.75);
}

TEST(OleDate, NegativeDatesReadTheOleWay)
{
    SYSTEMTIME st{};
    ASSERT_TRUE(VariantTimeToSystemTime(-1.25, &st));
    ExpectSame(st, St(1899, 12, 29, 6));
    // Between -1 and 0 the day is the zero date itself.
    ASSERT_TRUE(VariantTimeToSystemTime(-0.25, &st));
    ExpectSame(st, St(1899, 12, 30, 6));
    // A time that rounds up to midnight moves to the next calendar day on
    // both sides of the zero date.
    ASSERT_TRUE(VariantTimeToSystemTime(-1.0 - 86399.6 / 86400.0, &st));
    ExpectSame(st, St(1899, 12, 30));
    ASSERT_TRUE(VariantTimeToSystemTime(1.0 + 86399.6 / 86400.0, &st));
    ExpectSame(st, St(1900, 1, 1));
}

TEST(OleDate, RoundsToTheNearestSecondAndFillsTheWeekday)
{
    SYSTEMTIME st{};
    ASSERT_TRUE(VariantTimeToSystemTime(ToDate(St(2024, 1, 1, 10, 0, 0)) + 0.6 / 86400.0, &st));
    ExpectSame(st, St(2024, 1, 1, 10, 0, 1));
    EXPECT_EQ(st.wDayOfWeek, 1); // a Monday
    EXPECT_EQ(st.wMilliseconds, 0);
    ASSERT_TRUE(VariantTimeToSystemTime(0.0, &st));
    EXPECT_EQ(st.wDayOfWeek, 6); // a Saturday
}

TEST(OleDate, RejectsWhatIsOutOfRange)
{
    DATE d = 0;
    SYSTEMTIME bad[] = {St(99, 12, 31), St(10000, 1, 1), St(2023, 2, 29), St(2024, 13, 1), St(2024, 0, 1),
                        St(2024, 1, 0), St(2024, 4, 31), St(2024, 1, 1, 24), St(2024, 1, 1, 0, 60),
                        St(2024, 1, 1, 0, 0, 60)};
    for (const auto& st : bad)
        EXPECT_FALSE(SystemTimeToVariantTime(&st, &d)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
    SYSTEMTIME leap = St(2024, 2, 29);
    EXPECT_TRUE(SystemTimeToVariantTime(&leap, &d));

    SYSTEMTIME st{};
    EXPECT_FALSE(VariantTimeToSystemTime(kOleDateMin - 1.0, &st));
    EXPECT_FALSE(VariantTimeToSystemTime(kOleDateMax + 1.0, &st));
    EXPECT_FALSE(VariantTimeToSystemTime(std::nan(""), &st));
    EXPECT_FALSE(VariantTimeToSystemTime(INFINITY, &st));
    EXPECT_TRUE(VariantTimeToSystemTime(kOleDateMin, &st));
    ExpectSame(st, St(100, 1, 1));
    EXPECT_TRUE(VariantTimeToSystemTime(kOleDateMax, &st));
    ExpectSame(st, St(9999, 12, 31, 23, 59, 59));
    std::string text;
    EXPECT_EQ(VarBstrFromDate(kOleDateMax + 1.0, LOCALE_USER_DEFAULT, 0, &text), DISP_E_OVERFLOW);
}

TEST(OleDate, MillisecondsAreIgnored)
{
    SYSTEMTIME st = St(2020, 5, 6, 7, 8, 9);
    st.wMilliseconds = 999;
    EXPECT_EQ(ToDate(st), ToDate(St(2020, 5, 6, 7, 8, 9)));
}

TEST(OleDateText, FixedFormDropsTheZeroDateAndMidnight)
{
    EXPECT_EQ(Text(0.0), "12:00:00 AM");
    EXPECT_EQ(Text(0.25), "6:00:00 AM");
    EXPECT_EQ(Text(1.0), "12/31/1899");
    EXPECT_EQ(Text(1.5), "12/31/1899 12:00:00 PM");
    EXPECT_EQ(Text(ToDate(St(2024, 1, 2, 15, 4, 5))), "1/2/2024 3:04:05 PM");
    EXPECT_EQ(Text(ToDate(St(2024, 11, 22, 0, 0, 1))), "11/22/2024 12:00:01 AM");
    EXPECT_EQ(Text(-1.25), "12/29/1899 6:00:00 AM");
    EXPECT_EQ(Text(ToDate(St(101, 3, 4, 5, 6, 7))), "3/4/101 5:06:07 AM");
}

TEST(OleDateText, EverySecondReadsBackExactly)
{
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> year(100, 9999), month(1, 12), day(1, 28), hour(0, 23), minute(0, 59);
    std::vector<SYSTEMTIME> samples = {St(100, 1, 1),      St(9999, 12, 31, 23, 59, 59), St(1899, 12, 30),
                                       St(1899, 12, 29, 23, 59, 59), St(1899, 12, 30, 0, 0, 1),
                                       St(1601, 1, 1),     St(2000, 2, 29, 12, 0, 0)};
    for (int i = 0; i < 2000; ++i)
        samples.push_back(St(static_cast<WORD>(year(random)), static_cast<WORD>(month(random)),
                             static_cast<WORD>(day(random)), static_cast<WORD>(hour(random)),
                             static_cast<WORD>(minute(random)), static_cast<WORD>(minute(random))));
    for (const auto& st : samples) {
        const DATE d = ToDate(st);
        const std::string text = Text(d);
        DATE back = 0;
        ASSERT_EQ(VarDateFromStr(text.c_str(), LOCALE_USER_DEFAULT, 0, &back), S_OK) << text;
        SYSTEMTIME again{};
        ASSERT_TRUE(VariantTimeToSystemTime(back, &again));
        ExpectSame(again, st);
        // Dates at or after the zero date give back the very same number.
        if (d >= 0) {
            EXPECT_EQ(back, d) << text;
        }
    }
}

TEST(OleDateText, ReadsSqliteTextAndTwentyFourHourTimes)
{
    DATE d = 0;
    ASSERT_EQ(VarDateFromStr("2024-02-29 13:05:09", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(2024, 2, 29, 13, 5, 9)));
    ASSERT_EQ(VarDateFromStr("2024-02-29", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(2024, 2, 29)));
    ASSERT_EQ(VarDateFromStr("2024-02-29T13:05:09.123", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(2024, 2, 29, 13, 5, 9)));
    ASSERT_EQ(VarDateFromStr("  1/2/2024 15:04  ", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(2024, 1, 2, 15, 4)));
    ASSERT_EQ(VarDateFromStr("12:30 pm", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(1899, 12, 30, 12, 30)));
    ASSERT_EQ(VarDateFromStr("12:00:00 AM", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, 0.0);
    // Two-digit years fall in 1930 to 2029.
    ASSERT_EQ(VarDateFromStr("1/2/29", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(2029, 1, 2)));
    ASSERT_EQ(VarDateFromStr("1/2/30", LOCALE_USER_DEFAULT, 0, &d), S_OK);
    EXPECT_EQ(d, ToDate(St(1930, 1, 2)));
}

TEST(OleDateText, RefusesTextThatIsNoDate)
{
    DATE d = 42.0;
    for (const char* bad : {"", "   ", "Invalid DateTime", "2024-02-30", "13/1/2020", "1/32/2020", "1/2/10000",
                            "24:00:00", "13:00 PM", "1/2/2024 10:00 XM", "2024-1-2x", "10:61", "12345-01-01",
                            "1/2/2024 3:04:05 PM trailing", "2024/01/02"})
        EXPECT_EQ(VarDateFromStr(bad, LOCALE_USER_DEFAULT, 0, &d), DISP_E_TYPEMISMATCH) << '"' << bad << '"';
    EXPECT_EQ(VarDateFromStr("0099-12-31", LOCALE_USER_DEFAULT, 0, &d), DISP_E_OVERFLOW);
    EXPECT_EQ(d, 42.0);
    EXPECT_EQ(VarDateFromStr(nullptr, LOCALE_USER_DEFAULT, 0, &d), E_INVALIDARG);
    EXPECT_EQ(VarDateFromStr("1/1/2000", LOCALE_USER_DEFAULT, 0, nullptr), E_INVALIDARG);
}
