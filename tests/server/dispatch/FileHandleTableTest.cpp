#include "server/dispatch/FileHandleTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>
#include <vector>
#include <set>
#include <unistd.h>

namespace {

std::shared_ptr<CFileHandleTable::File> DevNull()
{
    return std::make_shared<CFileHandleTable::File>(CFile(::open("/dev/null", O_RDONLY | O_CLOEXEC)), false);
}

} // namespace

TEST(FileHandleTable, FullTableRefusesUntilAHandleIsTaken)
{
    CFileHandleTable table(2);
    LONG a = table.AddFile(DevNull(), "10.0.0.1");
    LONG b = table.AddSearch(std::make_shared<CFileHandleTable::Search>(), "10.0.0.2");
    EXPECT_NE(a, -1);
    EXPECT_NE(b, -1);
    EXPECT_EQ(table.AddFile(DevNull(), "10.0.0.3"), -1);
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_NE(table.TakeFile(a), nullptr);
    EXPECT_NE(table.AddFile(DevNull(), "10.0.0.3"), -1);
}

TEST(FileHandleTable, OneOwnerHoldsAtMostHalf)
{
    CFileHandleTable table(8);
    std::vector<LONG> mine;
    for (int i = 0; i < 4; ++i)
        mine.push_back(table.AddFile(DevNull(), "greedy"));
    EXPECT_EQ(std::count(mine.begin(), mine.end(), -1), 0);
    EXPECT_EQ(table.AddFile(DevNull(), "greedy"), -1);
    EXPECT_EQ(table.AddSearch(std::make_shared<CFileHandleTable::Search>(), "greedy"), -1);
    EXPECT_EQ(table.CountOf("greedy"), 4u);
    // Others still get handles; a closed handle gives the owner room again.
    EXPECT_NE(table.AddFile(DevNull(), "other"), -1);
    EXPECT_NE(table.AddFile(DevNull()), -1);
    EXPECT_NE(table.TakeFile(mine[0]), nullptr);
    EXPECT_EQ(table.CountOf("greedy"), 3u);
    EXPECT_NE(table.AddFile(DevNull(), "greedy"), -1);
}

TEST(FileHandleTable, SizedFromTheDescriptorLimitOfTheMoment)
{
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 2048)
        GTEST_SKIP() << "hard descriptor limit too low";
    rlimit low = saved;
    low.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    CFileHandleTable table;
    EXPECT_EQ(table.Capacity(), 512u);
    low.rlim_cur = 2048;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    EXPECT_EQ(table.Capacity(), 1024u); // a limit raised later counts
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
}

TEST(FileHandleTable, HandlesAreOfOneKindAndNotReusedSoon)
{
    CFileHandleTable table(8);
    LONG file = table.AddFile(DevNull());
    LONG search = table.AddSearch(std::make_shared<CFileHandleTable::Search>());
    EXPECT_EQ(table.GetSearch(file), nullptr);
    EXPECT_EQ(table.GetFile(search), nullptr);
    EXPECT_EQ(table.TakeSearch(file), nullptr);
    EXPECT_EQ(table.TakeFile(search), nullptr);
    EXPECT_EQ(table.Count(), 2u) << "a take of the wrong kind removes nothing";

    std::set<LONG> seen{file, search};
    for (int i = 0; i < 100; ++i) {
        LONG h = table.AddFile(DevNull());
        EXPECT_GT(h, 0);
        EXPECT_EQ(h % 4, 0);
        EXPECT_TRUE(seen.insert(h).second) << "reused " << h;
        table.TakeFile(h);
    }
}

TEST(FileHandleTable, DescriptorClosesWithItsLastHolder)
{
    CFileHandleTable table(4);
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    LONG h = table.AddFile(std::make_shared<CFileHandleTable::File>(CFile(fd), false));
    auto held = table.GetFile(h);
    table.TakeFile(h);
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "still held by a running operation";
    held.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}
