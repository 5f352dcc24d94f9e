// Named mutexes between objects and processes, and their release when a holder is killed.
#include "platform/win/LastError.h"
#include "platform/win/NamedMutex.h"
#include "tests/support/TestSupport.h"

#include <csignal>
#include <sys/wait.h>
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
