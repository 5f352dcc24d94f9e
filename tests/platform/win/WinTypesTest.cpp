#include "platform/win/Guid.h"
#include "platform/win/LastError.h"
#include "platform/win/SystemMessage.h"
#include "platform/win/Time.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>

TEST(HResult, FromWin32KeepsZeroAndMapsIntoFacilitySeven)
{
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002u));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), E_HANDLE);
    // Only the low word survives; an HRESULT passed in (negative) is kept.
    EXPECT_EQ(HRESULT_FROM_WIN32(0x12345u), static_cast<HRESULT>(0x80072345u));
    EXPECT_EQ(HRESULT_FROM_WIN32(0x80004005u), E_FAIL);
    EXPECT_TRUE(FAILED(E_UNEXPECTED));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

TEST(Guid, TextFormsAndByteLayout)
{
    GUID g{};
    ASSERT_EQ(UuidFromString("{A9934395-CC29-4CBA-9104-F01FC6BA6AA0}", &g), RPC_S_OK);
    EXPECT_EQ(g.Data1, 0xA9934395u);
    EXPECT_EQ(g.Data2, 0xCC29);
    EXPECT_EQ(g.Data3, 0x4CBA);
    EXPECT_EQ(g.Data4[0], 0x91);
    EXPECT_EQ(g.Data4[7], 0xA0);
    EXPECT_EQ(UuidToString(g), "a9934395-cc29-4cba-9104-f01fc6ba6aa0");
    EXPECT_EQ(GuidToBracedString(g), "{A9934395-CC29-4CBA-9104-F01FC6BA6AA0}");

    BYTE b[16];
    GuidToBytes(g, b);
    EXPECT_EQ(b[0], 0x95); // Data1 little-endian
    EXPECT_EQ(b[3], 0xA9);
    EXPECT_EQ(b[4], 0x29);
    EXPECT_EQ(b[8], 0x91);
    EXPECT_EQ(GuidFromBytes(b), g);

    EXPECT_EQ(UuidToString(GUID_NULL), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(UuidFromString("not a guid", &g), RPC_S_INVALID_STRING_UUID);
    EXPECT_EQ(UuidFromString("a9934395xcc29-4cba-9104-f01fc6ba6aa0", &g), RPC_S_INVALID_STRING_UUID);
    EXPECT_EQ(UuidFromString("g9934395-cc29-4cba-9104-f01fc6ba6aa0", &g), RPC_S_INVALID_STRING_UUID);
}

TEST(Guid, CreateGivesDistinctVersionFourGuids)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        GUID g{};
        ASSERT_EQ(UuidCreate(&g), RPC_S_OK);
        EXPECT_EQ(g.Data3 >> 12, 4);
        EXPECT_EQ(g.Data4[0] & 0xC0, 0x80);
        seen.insert(UuidToString(g));
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(Time, FileTimeAndSystemTimeRoundTrip)
{
    SYSTEMTIME st{2026, 12, 0, 9, 13, 45, 30, 250};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wYear, 2026);
    EXPECT_EQ(back.wMonth, 12);
    EXPECT_EQ(back.wDay, 9);
    EXPECT_EQ(back.wDayOfWeek, 3); // a Wednesday
    EXPECT_EQ(back.wHour, 13);
    EXPECT_EQ(back.wMinute, 45);
    EXPECT_EQ(back.wSecond, 30);
    EXPECT_EQ(back.wMilliseconds, 250);

    // The file-time epoch and the POSIX epoch.
    SYSTEMTIME epoch{1601, 1, 0, 1, 0, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&epoch, &ft));
    EXPECT_EQ(FileTimeToUInt64(ft), 0u);
    std::timespec unixEpoch{0, 0};
    EXPECT_EQ(FileTimeToUInt64(FileTimeFromTimespec(unixEpoch)), 116444736000000000ULL);
    SYSTEMTIME u = SystemTimeFromTimespec(unixEpoch);
    EXPECT_EQ(u.wYear, 1970);
    EXPECT_EQ(u.wDayOfWeek, 4);

    std::timespec ts{1'700'000'000, 123'456'700};
    std::timespec ts2 = TimespecFromFileTime(FileTimeFromTimespec(ts));
    EXPECT_EQ(ts2.tv_sec, ts.tv_sec);
    EXPECT_EQ(ts2.tv_nsec, ts.tv_nsec);
}

TEST(Time, RejectsFieldsOutOfRange)
{
    FILETIME ft{};
    SYSTEMTIME feb29{2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&feb29, &ft));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SYSTEMTIME leap{2024, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));
    SYSTEMTIME badHour{2024, 1, 0, 1, 24, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&badHour, &ft));
    SYSTEMTIME zero{};
    EXPECT_FALSE(SystemTimeToFileTime(&zero, &ft));
}

TEST(Time, LocalTimeIsAPlausibleDate)
{
    SYSTEMTIME local{}, utc{};
    GetLocalTime(&local);
    GetSystemTime(&utc);
    EXPECT_GE(local.wYear, 2024);
    EXPECT_GE(local.wMonth, 1);
    EXPECT_LE(local.wMonth, 12);
    EXPECT_LE(local.wHour, 23);
}

TEST(LastError, IsPerThreadAndMapsErrno)
{
    SetLastError(1234);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Win32ErrorFromErrno(EBADF), ERROR_INVALID_HANDLE);
    // A rename across file systems says so, not that a device failed.
    EXPECT_EQ(GetSystemMessageText(Win32ErrorFromErrno(EXDEV)),
              "The system cannot move the file to a different disk drive.\r\n");
}

TEST(SystemMessage, KnownCodesHaveTextAndUnknownHaveNone)
{
    EXPECT_EQ(GetSystemMessageText(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(GetSystemMessageText(static_cast<DWORD>(E_ACCESSDENIED)), "Access is denied.\r\n");
    EXPECT_FALSE(GetSystemMessageText(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE)).empty());
    EXPECT_FALSE(GetSystemMessageText(ERROR_SERVICE_DOES_NOT_EXIST).empty());
    EXPECT_FALSE(GetSystemMessageText(static_cast<DWORD>(SEC_E_MESSAGE_ALTERED)).empty());
    EXPECT_FALSE(GetSystemMessageText(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE))).empty());
    EXPECT_EQ(GetSystemMessageText(0xDEADBEEFu), "");
}

// The results the server's calls give show the system's own words.
TEST(SystemMessage, ResultsOfTheServersCallsHaveTheSystemsText)
{
    const struct {
        HRESULT code;
        const char* text;
    } cases[] = {
        {E_UNEXPECTED, "Catastrophic failure"},
        {E_NOTIMPL, "Not implemented"},
        {E_ABORT, "Operation aborted"},
        {E_POINTER, "Invalid pointer"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_FAIL, "Unspecified error"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {E_INVALIDARG, "The parameter is incorrect."},
        {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
        {HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN), "The server is not operational."},
        {HRESULT_FROM_WIN32(ERROR_NOT_SAME_DEVICE), "The system cannot move the file to a different disk drive."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetSystemMessageText(static_cast<DWORD>(c.code)), std::string(c.text) + "\r\n") << std::hex << c.code;
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN)), 0x8007203Au);
}
