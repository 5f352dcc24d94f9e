// Folder locks between objects and processes, through renames and kills.
#include "platform/file/FileSystem.h"
#include "platform/file/FolderLock.h"
#include "platform/win/LastError.h"
#include "tests/support/TestSupport.h"

#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using Mode = CFolderLock::Mode;
using tqtest::TempFolder;

namespace {

// In a forked child: 0 when it took the lock, 1 when refused as in use, 2 otherwise.
int ChildTries(const std::string& path, Mode mode)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        CFolderLock lock;
        ::_exit(lock.TryLock(path.c_str(), mode) ? 0 : GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 2);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(FolderLock, SharedHoldersExcludeAnExclusiveOneInAnyOrder)
{
    TempFolder folder;
    const char* path = folder.Path().c_str();
    struct Case {
        Mode held, asked;
        bool granted;
    };
    for (const Case& c : {Case{Mode::Shared, Mode::Shared, true}, Case{Mode::Shared, Mode::Exclusive, false},
                          Case{Mode::Exclusive, Mode::Shared, false}, Case{Mode::Exclusive, Mode::Exclusive, false}}) {
        SCOPED_TRACE(testing::Message() << int(c.held) << " then " << int(c.asked));
        CFolderLock second;
        {
            CFolderLock first;
            ASSERT_TRUE(first.TryLock(path, c.held));
            EXPECT_EQ(second.TryLock(path, c.asked), c.granted);
            if (!c.granted) {
                EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
                EXPECT_FALSE(second.Held());
            }
            second.Unlock();
            EXPECT_EQ(ChildTries(path, c.asked), c.granted ? 0 : 1);
            // A moved lock is still the one hold.
            CFolderLock moved = std::move(first);
            EXPECT_FALSE(first.Held());
            EXPECT_TRUE(moved.Held());
            EXPECT_EQ(ChildTries(path, c.asked), c.granted ? 0 : 1);
        }
        EXPECT_TRUE(second.TryLock(path, c.asked));
    }
}

TEST(FolderLock, AKilledHolderReleasesIt)
{
    TempFolder folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        CFolderLock mine;
        const char held = mine.TryLock(folder.Path().c_str(), Mode::Shared) ? 1 : 0;
        (void)!::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 1);
    CFolderLock mine;
    EXPECT_FALSE(mine.TryLock(folder.Path().c_str(), Mode::Exclusive));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(mine.TryLock(folder.Path().c_str(), Mode::Exclusive));
}

TEST(FolderLock, TheLockFollowsTheFolderThroughARename)
{
    TempFolder root;
    const std::string a = root / "a", b = root / "b";
    ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
    CFolderLock lock;
    ASSERT_TRUE(lock.TryLock(a.c_str(), Mode::Exclusive));
    ASSERT_TRUE(RenamePath(a.c_str(), b.c_str()));
    EXPECT_FALSE(lock.At(a.c_str()));
    EXPECT_TRUE(lock.At(b.c_str()));
    PathIdentity identity;
    ASSERT_TRUE(GetPathIdentity(b.c_str(), &identity));
    EXPECT_EQ(lock.Identity(), identity);
    CFolderLock other;
    EXPECT_FALSE(other.TryLock(b.c_str(), Mode::Shared));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // The old name's new folder is another folder, free.
    ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
    EXPECT_TRUE(other.TryLock(a.c_str(), Mode::Exclusive));
    EXPECT_TRUE(other.At(a.c_str()));
}

TEST(FolderLock, OnlyFoldersLockAndLinksAreFollowed)
{
    TempFolder root;
    const std::string folder = root / "folder", file = root / "file";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(tqtest::WriteFileText(file, "x"));
    ASSERT_EQ(::symlink(folder.c_str(), (root / "to-folder").c_str()), 0);
    ASSERT_EQ(::symlink(file.c_str(), (root / "to-file").c_str()), 0);
    struct Case {
        std::string path;
        DWORD error;
    };
    for (const Case& c : {Case{file, ERROR_DIRECTORY}, Case{root / "to-file", ERROR_DIRECTORY},
                          Case{root / "missing", ERROR_FILE_NOT_FOUND}, Case{file + "/x", ERROR_PATH_NOT_FOUND}}) {
        CFolderLock lock;
        ASSERT_TRUE(lock.TryLock(folder.c_str(), Mode::Exclusive));
        // A failed attempt leaves nothing held, the earlier hold neither.
        EXPECT_FALSE(lock.TryLock(c.path.c_str(), Mode::Shared)) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
        EXPECT_FALSE(lock.Held());
        EXPECT_EQ(ChildTries(folder, Mode::Exclusive), 0);
    }
    CFolderLock lock;
    ASSERT_TRUE(lock.TryLock((root / "to-folder").c_str(), Mode::Exclusive));
    EXPECT_TRUE(lock.At(folder.c_str()));
    EXPECT_EQ(ChildTries(folder, Mode::Shared), 1);
}
