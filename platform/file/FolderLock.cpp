#include "platform/file/FolderLock.h"

#include "platform/file/IdentityAt.h"
#include "platform/win/LastError.h"
#include "platform/win/NamedFileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h> // LOCK_SH, LOCK_EX
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

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
    struct stat locked {};
    const int fd = LockNamedFile(
        path,
        [path] {
            const int opened = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (opened < 0)
                SetLastError(OpenError(path));
            return opened;
        },
        mode == Mode::Shared ? LOCK_SH : LOCK_EX, ERROR_SHARING_VIOLATION, &locked);
    if (fd < 0)
        return false;
    if (!IdentityAt(fd, "", AT_EMPTY_PATH, &identity_)) {
        SetLastErrorFromErrno();
        identity_ = {};
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
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
    PathIdentity identity;
    return Held() && IdentityAt(AT_FDCWD, path, 0, &identity) && identity == identity_;
}
