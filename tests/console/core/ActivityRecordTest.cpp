#include "console/core/ActivityRecord.h"

#include <gtest/gtest.h>

TEST(ActivityRecord, SplitsTheNineFieldsOfARecord)
{
    const auto r = CActivityRecord::Parse("1|1004|-2147024891|abc-guid|CloseFile(123)|WinFileImpl|"
                                          "CWinFileImpl::OnCloseFile|539|4242");
    EXPECT_EQ(r.Field(1), "1");
    EXPECT_EQ(r.Field(2), "1004");
    EXPECT_EQ(r.Field(4), "abc-guid");
    EXPECT_EQ(r.Field(5), "CloseFile(123)");
    EXPECT_EQ(r.Field(7), "CWinFileImpl::OnCloseFile");
    EXPECT_EQ(r.Field(9), "4242");
    EXPECT_EQ(r.Type(), 1);
    EXPECT_EQ(r.Result(), -2147024891);
}

TEST(ActivityRecord, EmptyFieldsMoveTheLaterOnesUpAndMissingOnesStayEmpty)
{
    // A run of separators is one, a leading one is skipped.
    const auto r = CActivityRecord::Parse("||0|2005||-1|guid|msg|src");
    EXPECT_EQ(r.Field(1), "0");
    EXPECT_EQ(r.Field(2), "2005");
    EXPECT_EQ(r.Field(3), "-1");
    EXPECT_EQ(r.Field(4), "guid");
    EXPECT_EQ(r.Field(5), "msg");
    EXPECT_EQ(r.Field(6), "src");
    EXPECT_EQ(r.Field(7), "");
    EXPECT_EQ(r.Field(9), "");

    // A "|" inside a text splits it; the tenth field and on are dropped.
    const auto s = CActivityRecord::Parse("1|2|3|4|Find(a|b)|6|7|8|9|10");
    EXPECT_EQ(s.Field(5), "Find(a");
    EXPECT_EQ(s.Field(6), "b)");
    EXPECT_EQ(s.Field(9), "8");

    const auto empty = CActivityRecord::Parse("");
    for (size_t i = 1; i <= CActivityRecord::kFieldCount; ++i)
        EXPECT_EQ(empty.Field(i), "");
    EXPECT_EQ(CActivityRecord::Parse("|||").Field(1), "");
}

TEST(ActivityRecord, TypeAndResultTexts)
{
    EXPECT_EQ(CActivityRecord::TypeText(0), "Function Call");
    EXPECT_EQ(CActivityRecord::TypeText(1), "Function Return");
    EXPECT_EQ(CActivityRecord::TypeText(2), "Exception");
    EXPECT_EQ(CActivityRecord::TypeText(3), "System");
    EXPECT_EQ(CActivityRecord::TypeText(7), "Unknown");
    EXPECT_EQ(CActivityRecord::TypeText(-1), "Unknown");

    EXPECT_EQ(CActivityRecord::ResultText(0), "Succeeded");
    EXPECT_EQ(CActivityRecord::ResultText(1), "Succeeded");
    // The system's text goes in without its line end, so a saved row stays one line.
    EXPECT_EQ(CActivityRecord::ResultText(-2147024891), "Failed: 0x80070005 (Access is denied.)");
    // No text for the code: the number alone.
    EXPECT_EQ(CActivityRecord::ResultText(static_cast<int32_t>(0x80041234u)), "Failed: 0x80041234");
}

TEST(ActivityRecord, NumbersReadAsAtoiWithoutOverflow)
{
    // No number reads as 0: a successful call start.
    auto r = CActivityRecord::Parse("x|y|z|g|m");
    EXPECT_EQ(r.Type(), 0);
    EXPECT_EQ(r.Result(), 0);
    EXPECT_FALSE(r.IsShown());

    r = CActivityRecord::Parse(" 2abc|5| -5|g|m");
    EXPECT_EQ(r.Type(), 2);
    EXPECT_EQ(r.Result(), -5);

    // Beyond the range it saturates.
    r = CActivityRecord::Parse("1|1|-99999999999999|g|m");
    EXPECT_EQ(r.Result(), INT32_MIN);
    EXPECT_EQ(CActivityRecord::ResultText(r.Result()), "Failed: 0x80000000");
    r = CActivityRecord::Parse("99999999999999|1|99999999999999|g|m");
    EXPECT_EQ(r.Type(), INT32_MAX);
    EXPECT_EQ(CActivityRecord::ResultText(r.Result()), "Succeeded");
}

TEST(ActivityRecord, OnlySuccessfulCallStartsAreFilteredOut)
{
    EXPECT_FALSE(CActivityRecord::Parse("0|1004|0|g|m").IsShown());
    EXPECT_FALSE(CActivityRecord::Parse("0|1004|1|g|m").IsShown());
    EXPECT_TRUE(CActivityRecord::Parse("0|1004|-1|g|m").IsShown());
    EXPECT_TRUE(CActivityRecord::Parse("1|1004|0|g|m").IsShown());
    EXPECT_TRUE(CActivityRecord::Parse("2|1004|-2147418113|g|m").IsShown());
    EXPECT_TRUE(CActivityRecord::Parse("7|1004|0|g|m").IsShown());
}

TEST(ActivityRecord, CellsFollowTheColumns)
{
    const auto r = CActivityRecord::Parse("0|2005|-2147024891|guid|CreateUser(bob)|ULInvokeImpl|"
                                          "CULInvokeImpl::OnCreateUser|77|991");
    const auto cells = r.Cells("12/09/2026", "09:05:07", "Local Computer", false);
    const std::vector<std::string> expected{"12/09/2026",     "09:05:07",
                                            "991",            "Local Computer",
                                            "CreateUser(bob)", "Failed: 0x80070005 (Access is denied.)",
                                            "2005",           "Function Call"};
    EXPECT_EQ(cells, expected);
    EXPECT_EQ(CActivityRecord::Headers(false).size(), cells.size() + 1);

    const auto extra = r.Cells("d", "t", "c", true);
    ASSERT_EQ(extra.size(), 11u);
    EXPECT_EQ(extra[8], "ULInvokeImpl");
    EXPECT_EQ(extra[9], "CULInvokeImpl::OnCreateUser");
    EXPECT_EQ(extra[10], "77");
    EXPECT_EQ(CActivityRecord::Headers(true).size(), 12u);
    EXPECT_EQ(CActivityRecord::Headers(true)[11], "Source Line");
}

TEST(ActivityRecord, DateAndTimeTexts)
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 0;
    t.tm_min = 3;
    t.tm_sec = 9;
    EXPECT_EQ(CActivityRecord::DateText(t), "01/05/2026");
    EXPECT_EQ(CActivityRecord::TimeText(t), "00:03:09");
}
