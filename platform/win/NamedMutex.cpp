#include "platform/win/NamedMutex.h"

#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

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
    const std::string path = StatePath("locks/" + name_ + ".lock");
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        SetLastError(errno == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : Win32ErrorFromErrno(errno));
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}
