#include "platform/win/NamedFileLock.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <sys/file.h>
#include <unistd.h>

namespace {

// A name that leads elsewhere after every lock is given up on rather than
// chased for ever.
constexpr int kAttempts = 8;

} // namespace

int LockNamedFile(const char* path, const std::function<int()>& open, int operation, DWORD busy,
                  struct stat* locked, NamedLockWait wait)
{
    const int blocking = wait == NamedLockWait::Yes ? 0 : LOCK_NB;
    for (int misses = 0;;) {
        const int fd = open();
        if (fd < 0)
            return -1;
        int rc;
        while ((rc = ::flock(fd, operation | blocking)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            SetLastError(errno == EWOULDBLOCK ? busy : Win32ErrorFromErrno(errno));
            ::close(fd);
            return -1;
        }
        if (::fstat(fd, locked) != 0) {
            SetLastErrorFromErrno();
            ::close(fd);
            return -1;
        }
        struct stat named {};
        if (::stat(path, &named) == 0 && named.st_dev == locked->st_dev && named.st_ino == locked->st_ino)
            return fd;
        ::close(fd);
        if (wait == NamedLockWait::No && ++misses == kAttempts) {
            SetLastError(busy);
            return -1;
        }
    }
}
