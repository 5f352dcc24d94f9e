#include "platform/file/File.h"
#include "platform/file/FileSystem.h"
#include "platform/win/LastError.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using tqtest::ReadFileText;
using tqtest::TempFolder;
using tqtest::WriteFileText;

TEST(File, OnlyPlainFilesOpen)
{
    TempFolder folder;
    CFile file;
    EXPECT_FALSE(file.OpenRegular(folder.Path().c_str(), false));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // A pipe with no writer would block a plain open for reading.
    const std::string pipe = folder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(file.OpenRegular(pipe.c_str(), false));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(file.OpenRegular((folder / "missing").c_str(), false));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(file.IsOpen());
}

TEST(File, WritesReadsAndReportsSizeAndPosition)
{
    TempFolder folder;
    const std::string path = folder / "a.txt";
    CFile out;
    ASSERT_TRUE(out.OpenRegular(path.c_str(), true));
    ASSERT_TRUE(out.Write("hello", 5));
    ASSERT_TRUE(out.Close());
    EXPECT_FALSE(out.IsOpen());

    CFile in;
    ASSERT_TRUE(in.OpenRegular(path.c_str(), false));
    char buffer[16] = {};
    size_t got = 0;
    ASSERT_TRUE(in.Read(buffer, 3, &got));
    EXPECT_EQ(std::string(buffer, got), "hel");
    ULONGLONG at = 0;
    ASSERT_TRUE(in.GetPosition(&at));
    EXPECT_EQ(at, 3u);
    ASSERT_TRUE(in.Read(buffer, sizeof buffer, &got)); // stops at the end
    EXPECT_EQ(std::string(buffer, got), "lo");
    FileInfo info;
    ASSERT_TRUE(in.GetInfo(&info));
    EXPECT_TRUE(info.regular);
    EXPECT_EQ(info.size, 5u);

    // Reads at an offset leave the position alone and stop at the end too.
    ASSERT_TRUE(in.ReadAt(1, buffer, 3, &got));
    EXPECT_EQ(std::string(buffer, got), "ell");
    ASSERT_TRUE(in.ReadAt(4, buffer, sizeof buffer, &got));
    EXPECT_EQ(std::string(buffer, got), "o");
    ASSERT_TRUE(in.ReadAt(9, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(in.GetPosition(&at));
    EXPECT_EQ(at, 5u);
}

TEST(File, CreateFollowsNoLinkAndKeepsTheBitsGiven)
{
    TempFolder folder;
    const std::string target = folder / "target";
    const std::string link = folder / "link";
    ASSERT_TRUE(WriteFileText(target, "keep"));
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    CFile file;
    EXPECT_FALSE(file.Create(link.c_str(), 0644));
    EXPECT_EQ(ReadFileText(target), "keep");

    const std::string path = folder / "new";
    ASSERT_TRUE(file.Create(path.c_str(), 0600));
    ASSERT_TRUE(file.SetPermissions(0640));
    ASSERT_TRUE(file.Close());
    FileInfo info;
    ASSERT_TRUE(GetPathInfo(path.c_str(), &info));
    EXPECT_EQ(info.permissions, 0640u);
    EXPECT_TRUE(info.ownerCanWrite);
}

TEST(FileSystem, NamesAreListedRenamedLinkedAndDeleted)
{
    TempFolder folder;
    std::vector<std::string> names;
    EXPECT_FALSE(ListFolder((folder / "missing").c_str(), &names));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    ASSERT_TRUE(WriteFileText(folder / "a", "1"));
    ASSERT_TRUE(RenamePath((folder / "a").c_str(), (folder / "b").c_str()));
    ASSERT_TRUE(LinkPath((folder / "b").c_str(), (folder / "c").c_str()));
    ASSERT_TRUE(ListFolder(folder.Path().c_str(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "b", "c"}));
    EXPECT_TRUE(PathExists((folder / "c").c_str()));
    EXPECT_TRUE(PathIsWritable((folder / "c").c_str()));
    ASSERT_TRUE(DeletePath((folder / "c").c_str()));
    EXPECT_FALSE(PathExists((folder / "c").c_str()));
    EXPECT_FALSE(DeletePath((folder / "c").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(FlushFolder(folder.Path().c_str()));
    FileInfo info;
    ASSERT_TRUE(GetPathInfo(folder.Path().c_str(), &info));
    EXPECT_TRUE(info.directory);
}
