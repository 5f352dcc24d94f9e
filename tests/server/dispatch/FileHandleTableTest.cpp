#include "server/dispatch/FileHandleTable.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

std::shared_ptr<CFileHandleTable::File> DevNull()
{
    return std::make_shared<CFileHandleTable::File>(::open("/dev/null", O_RDONLY | O_CLOEXEC), false);
}

} // namespace

TEST(FileHandleTable, FullTableRefusesUntilAHandleIsTaken)
{
    CFileHandleTable table(2);
    LONG a = table.AddFile(DevNull());
    LONG b = table.AddSearch(std::make_shared<CFileHandleTable::Search>());
    EXPECT_NE(a, -1);
    EXPECT_NE(b, -1);
    EXPECT_EQ(table.AddFile(DevNull()), -1);
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_NE(table.TakeFile(a), nullptr);
    EXPECT_NE(table.AddFile(DevNull()), -1);
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
    LONG h = table.AddFile(std::make_shared<CFileHandleTable::File>(fd, false));
    auto held = table.GetFile(h);
    table.TakeFile(h);
    EXPECT_NE(::fcntl(fd, F_GETFD), -1) << "still held by a running operation";
    held.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}
