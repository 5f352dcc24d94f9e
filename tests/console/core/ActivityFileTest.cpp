#include "console/core/ActivityFile.h"

#include "common/Names.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class LogExtraInfoTest : public tqtest::StateRootTest {
protected:
    static void SetValue(DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, tq::kTessaryQuorleKey, KEY_WRITE, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, tq::kLogExtraInfoValue, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(LogExtraInfoTest, OnlyFourBytesReadingOneTurnItOn)
{
    EXPECT_FALSE(ReadLogExtraInfo()); // no key
    const DWORD one = 1, two = 2;
    SetValue(REG_DWORD, &two, 4);
    EXPECT_FALSE(ReadLogExtraInfo());
    SetValue(REG_DWORD, &one, 4);
    EXPECT_TRUE(ReadLogExtraInfo());
    // The type is not looked at, only the four bytes.
    SetValue(REG_BINARY, &one, 4);
    EXPECT_TRUE(ReadLogExtraInfo());
    SetValue(REG_SZ, "1", 2);
    EXPECT_FALSE(ReadLogExtraInfo());
    const BYTE longer[8] = {1};
    SetValue(REG_BINARY, longer, 8);
    EXPECT_FALSE(ReadLogExtraInfo());
}

TEST(ActivityFile, RowsThatArriveDuringTheSaveAreSavedToo)
{
    tqtest::TempFolder folder;
    size_t rows = 1;
    const DWORD error = SaveActivityFile(
        folder / "a.txt", {"#", "X"}, [&] { return rows; },
        [&](size_t row, size_t column) {
            if (row == 0 && column == 1)
                rows = 2; // the count is read again after each row
            return std::to_string(row) + ":" + std::to_string(column);
        });
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tqtest::ReadFileText(folder / "a.txt"), "#\tX\r\n0:0\t0:1\r\n1:0\t1:1\r\n");
}

TEST(ActivityFile, TabsAndLineBreaksInACellAreSavedAsSpaces)
{
    tqtest::TempFolder folder;
    const DWORD error = SaveActivityFile(
        folder / "a.txt", {"#", "Details"}, [] { return size_t{1}; },
        [](size_t, size_t column) { return column == 0 ? std::string("1") : std::string("a\tb\r\nc\nd\x1b|e"); });
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(tqtest::ReadFileText(folder / "a.txt"), "#\tDetails\r\n1\ta b  c d |e\r\n");
}

} // namespace
