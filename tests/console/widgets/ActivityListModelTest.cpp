#include "console/widgets/ActivityListModel.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::vector<std::string>> Rows(int from, int to)
{
    std::vector<std::vector<std::string>> rows;
    for (int i = from; i <= to; ++i)
        rows.push_back({"d", "t", "c", "computer", "details " + std::to_string(i)});
    return rows;
}

// Past the limit the oldest rows go while the numbers go on, also when one
// burst alone is longer than the limit; Clear frees the rows and numbers anew.
TEST(ActivityListModel, KeepsTheNewestRowsUpToItsLimit)
{
    CActivityListModel model({"#", "Date", "Time", "Connection", "Computer", "Details"}, nullptr, 3);
    model.AppendRows(Rows(1, 2));
    model.AppendRows(Rows(3, 4));
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.CellText(0, 0), "2");
    EXPECT_EQ(model.CellText(0, 5), "details 2");
    EXPECT_EQ(model.CellText(2, 0), "4");
    EXPECT_EQ(model.CellText(2, 5), "details 4");

    model.AppendRows(Rows(5, 9));
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.CellText(0, 0), "7");
    EXPECT_EQ(model.CellText(0, 5), "details 7");
    EXPECT_EQ(model.CellText(2, 0), "9");

    model.Clear();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.MemoryBytes(), 0u);
    model.AppendRows(Rows(10, 10));
    EXPECT_EQ(model.CellText(0, 0), "1");
    EXPECT_EQ(CActivityListModel::kMaxRows, 1000000u);
}

} // namespace
