// Named mutexes between objects and processes, and their release when a holder is killed.
#include "platform/win/LastError.h"
#include "platform/win/NamedMutex.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using NamedMutexTest = tqtest::StateRootTest;

// A child's exit code: 0 when it could not take the mutex, and for the reason expected.
int ChildTries(const char* name)
{
    pid_t pid = ::fork();
    if (pid == 0) {
        CNamedMutex other(name);
        ::_exit(!other.TryLock() && GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(NamedMutexTest, HeldItExcludesOtherObjectsAndProcesses)
{
    CNamedMutex bad("a/b");
    EXPECT_FALSE(bad.TryLock());
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

    CNamedMutex second("one");
    {
        CNamedMutex first("one");
        ASSERT_TRUE(first.TryLock());
        EXPECT_TRUE(first.TryLock());
        EXPECT_FALSE(second.TryLock());
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
        EXPECT_FALSE(second.Held());
        EXPECT_EQ(ChildTries("one"), 0);
        CNamedMutex unrelated("two");
        EXPECT_TRUE(unrelated.TryLock());
    }
    EXPECT_TRUE(second.TryLock());
    EXPECT_TRUE(second.Held());
}

TEST_F(NamedMutexTest, AKilledHolderReleasesIt)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        CNamedMutex mine("killed");
        char held = mine.TryLock() ? 1 : 0;
        (void)!::write(ready[1], &held, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 1);
    CNamedMutex mine("killed");
    EXPECT_FALSE(mine.TryLock());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(mine.TryLock());
}

} // namespace

// A cleaner that removes the file only while it holds it (so never under a
// holder) races the open of one that is about to lock: that one must not then
// hold the removed file while a third holds the new one.
TEST_F(NamedMutexTest, ACleanerRemovingTheFileNeverLetsTwoHoldIt)
{
    const std::string path = CNamedMutex("cleaned").Path();
    std::atomic<bool> done{false};
    std::thread cleaner([&] {
        while (!done) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
                ::unlink(path.c_str());
            if (fd >= 0)
                ::close(fd);
        }
    });
    std::atomic<int> holders{0}, overlaps{0}, holds{0};
    auto contend = [&] {
        for (int i = 0; i < 5000; ++i) {
            CNamedMutex mutex("cleaned");
            if (!mutex.TryLock())
                continue;
            ++holds;
            if (++holders > 1)
                ++overlaps;
            // Held a while, so that a second holder would meet this one.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            --holders;
        }
    };
    std::thread a(contend), b(contend);
    a.join();
    b.join();
    done = true;
    cleaner.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_GT(holds, 0);
}
