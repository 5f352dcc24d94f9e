#include "platform/win/NamedMutex.h"

#include "platform/win/LastError.h"
#include "platform/win/NamedFileLock.h"
#include "platform/win/StateRoot.h"

#include <fcntl.h>
#include <sys/file.h> // LOCK_SH, LOCK_EX
#include <sys/stat.h>
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
    const std::string path = Path();
    struct stat locked {};
    fd_ = LockNamedFile(
        path.c_str(),
        [&path] {
            const int opened = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
            if (opened < 0)
                SetLastErrorFromErrno();
            return opened;
        },
        LOCK_EX, ERROR_ALREADY_EXISTS, &locked);
    return fd_ >= 0;
}

std::string CNamedMutex::Path() const
{
    return StatePath("locks/" + name_ + ".lock");
}
