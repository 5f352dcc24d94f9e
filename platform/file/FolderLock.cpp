#include "platform/file/FolderLock.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// A name that names another folder after every lock (a save renaming folders
// in a loop) is given up on rather than chased for ever.
constexpr int kAttempts = 8;

// ENOTDIR from the open says a component or the last name is no folder: only
// the last name makes it ERROR_DIRECTORY.
DWORD OpenError(const char* path)
{
    const int error = errno;
    if (error != ENOTDIR)
        return Win32ErrorFromErrno(error);
    struct stat st {};
    return ::stat(path, &st) == 0 && !S_ISDIR(st.st_mode) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND;
}

} // namespace

CFolderLock::~CFolderLock()
{
    Unlock();
}

CFolderLock::CFolderLock(CFolderLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), identity_(std::exchange(other.identity_, {}))
{
}

CFolderLock& CFolderLock::operator=(CFolderLock&& other) noexcept
{
    if (this != &other) {
        Unlock();
        fd_ = std::exchange(other.fd_, -1);
        identity_ = std::exchange(other.identity_, {});
    }
    return *this;
}

bool CFolderLock::TryLock(const char* path, Mode mode)
{
    Unlock();
    const int operation = (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            SetLastError(OpenError(path));
            return false;
        }
        int rc;
        while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            SetLastError(errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(errno));
            ::close(fd);
            return false;
        }
        // The folder may have been renamed away, and another put in its
        // place, between the open and the lock: the caller asked for the
        // folder the name leads to now.
        struct stat locked {};
        struct stat named {};
        if (::fstat(fd, &locked) != 0) {
            SetLastErrorFromErrno();
            ::close(fd);
            return false;
        }
        if (::stat(path, &named) == 0 && named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
            fd_ = fd;
            identity_ = PathIdentity{locked.st_dev, locked.st_ino};
            return true;
        }
        ::close(fd);
    }
    SetLastError(ERROR_SHARING_VIOLATION);
    return false;
}

void CFolderLock::Unlock()
{
    if (fd_ >= 0)
        ::close(fd_); // the last descriptor of the open file ends the flock
    fd_ = -1;
    identity_ = {};
}

bool CFolderLock::At(const char* path) const
{
    struct stat st {};
    return Held() && ::stat(path, &st) == 0 && PathIdentity{st.st_dev, st.st_ino} == identity_;
}
