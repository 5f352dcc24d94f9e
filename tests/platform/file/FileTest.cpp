#include "platform/file/File.h"
#include "platform/file/FileSystem.h"
#include "platform/file/FolderLock.h"
#include "platform/win/LastError.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
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

namespace {

// 0 when nothing is at the name; a refused move leaves both names as they were.
ino_t InodeAt(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

TEST(FileSystem, MoveNeverReplacesWhatIsThere)
{
    TempFolder folder;
    std::unique_ptr<TempFolder> other; // another file system, where the machine has one
    struct stat here {}, shm {};
    if (::stat(folder.Path().c_str(), &here) == 0 && ::stat("/dev/shm", &shm) == 0 && here.st_dev != shm.st_dev)
        other = std::make_unique<TempFolder>("/dev/shm");
    using Make = std::function<bool(const std::string&)>;
    const Make file = [](const std::string& p) { return WriteFileText(p, "x"); };
    const Make dir = [](const std::string& p) { return ::mkdir(p.c_str(), 0755) == 0; };
    const Make link = [&](const std::string& p) { return ::symlink((folder / "nowhere").c_str(), p.c_str()) == 0; };
    const Make none = [](const std::string&) { return true; };
    // Sources a plain rename would put in the target's place.
    const struct {
        Make source, target;
        std::string to;
        DWORD error;
    } cases[] = {
        {dir, none, folder / "new", ERROR_SUCCESS},
        {file, file, folder / "file", ERROR_ALREADY_EXISTS},
        {dir, dir, folder / "empty", ERROR_ALREADY_EXISTS},
        {file, link, folder / "link", ERROR_ALREADY_EXISTS},
        {file, none, other ? *other / "new" : "", ERROR_NOT_SAME_DEVICE},
    };
    int row = 0;
    for (const auto& c : cases) {
        const std::string from = folder / ("from" + std::to_string(row++));
        if (c.to.empty())
            continue;
        SCOPED_TRACE(c.to);
        ASSERT_TRUE(c.source(from) && c.target(c.to));
        const ino_t source = InodeAt(from), target = InodeAt(c.to);
        const bool moves = c.error == ERROR_SUCCESS;
        EXPECT_EQ(MovePath(from.c_str(), c.to.c_str()), moves);
        if (!moves) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        EXPECT_EQ(InodeAt(from), moves ? 0 : source);
        EXPECT_EQ(InodeAt(c.to), moves ? source : target);
    }
}

TEST(FileSystem, IdentityIsKeptByARenameAndSharedThroughALink)
{
    TempFolder folder;
    ASSERT_TRUE(WriteFileText(folder / "a", "1") && WriteFileText(folder / "other", "1"));
    PathIdentity before, after, linked, other;
    ASSERT_TRUE(GetPathIdentity((folder / "a").c_str(), &before));
    ASSERT_TRUE(MovePath((folder / "a").c_str(), (folder / "b").c_str()));
    ASSERT_EQ(::symlink((folder / "b").c_str(), (folder / "link").c_str()), 0);
    ASSERT_TRUE(GetPathIdentity((folder / "b").c_str(), &after) && GetPathIdentity((folder / "link").c_str(), &linked) &&
                GetPathIdentity((folder / "other").c_str(), &other));
    EXPECT_EQ(after, before);
    EXPECT_EQ(linked, before);
    EXPECT_FALSE(other == before);
    EXPECT_FALSE(GetPathIdentity((folder / "a").c_str(), &other));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// A folder made after another is gone may be given its inode number again: a
// record kept of the first must not take the second for it.
TEST(FileSystem, AFolderGivenAFreedInodeNumberIsAnother)
{
    TempFolder folder;
    const std::string a = folder / "a", b = folder / "b", link = folder / "link";
    ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
    PathIdentity first, renamed, linked, own;
    ASSERT_TRUE(GetPathIdentity(a.c_str(), &first));
    {
        CFolderLock lock;
        ASSERT_TRUE(lock.TryLock(a.c_str(), CFolderLock::Mode::Shared));
        EXPECT_EQ(lock.Identity(), first);
    }
    ASSERT_TRUE(RenamePath(a.c_str(), b.c_str()));
    ASSERT_EQ(::symlink("b", link.c_str()), 0);
    ASSERT_TRUE(GetOwnPathIdentity(b.c_str(), &renamed) && GetPathIdentity(link.c_str(), &linked) &&
                GetOwnPathIdentity(link.c_str(), &own));
    EXPECT_EQ(renamed, first);
    EXPECT_EQ(linked, first);
    EXPECT_FALSE(own == first);

    struct statx st {};
    if (::statx(AT_FDCWD, b.c_str(), 0, STATX_BTIME, &st) != 0 || (st.stx_mask & STATX_BTIME) == 0)
        GTEST_SKIP() << "the file system keeps no birth time";
    ASSERT_EQ(::rmdir(b.c_str()), 0);
    PathIdentity later;
    for (int tries = 0;; ++tries) {
        ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
        ASSERT_TRUE(GetPathIdentity(a.c_str(), &later));
        if (later.inode == first.inode)
            break;
        if (tries == 1000)
            GTEST_SKIP() << "the file system gave the inode number to no new folder";
        ASSERT_EQ(::rmdir(a.c_str()), 0);
    }
    EXPECT_FALSE(later == first);
    CFolderLock lock;
    ASSERT_TRUE(lock.TryLock(a.c_str(), CFolderLock::Mode::Exclusive));
    EXPECT_EQ(lock.Identity(), later);
}
