#include "platform/win/NamedMutex.h"

#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A name whose file is replaced after every lock is given up on rather than
// chased for ever.
constexpr int kAttempts = 8;

} // namespace

CNamedMutex::CNamedMutex(std::string name) : name_(std::move(name)) {}

CNamedMutex::~CNamedMutex()
{
    if (fd_ >= 0)
        ::close(fd_); // the last descriptor of the open file ends the flock
}

bool CNamedMutex::TryLock()
{
    if (fd_ >= 0)
        return true;
    if (name_.empty() || name_.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // Read-only: flock needs no write access, so users other than the file's
    // owner can share it. The file is never removed, since a holder of a
    // removed file would no longer exclude one that makes it again.
    const std::string path = Path();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            SetLastErrorFromErrno();
            return false;
        }
        int rc;
        while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            SetLastError(errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : Win32ErrorFromErrno(errno));
            ::close(fd);
            return false;
        }
        // Someone may have removed or replaced the file between the open and
        // the lock: a hold of a file no longer under the name excludes
        // nobody, so the name's file is taken again.
        struct stat locked {};
        struct stat named {};
        if (::fstat(fd, &locked) == 0 && ::stat(path.c_str(), &named) == 0 && locked.st_dev == named.st_dev &&
            locked.st_ino == named.st_ino) {
            fd_ = fd;
            return true;
        }
        ::close(fd);
    }
    SetLastError(ERROR_ALREADY_EXISTS);
    return false;
}

std::string CNamedMutex::Path() const
{
    return StatePath("locks/" + name_ + ".lock");
}
