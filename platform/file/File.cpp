#include "platform/file/File.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

bool Failed()
{
    SetLastErrorFromErrno();
    return false;
}

// Reads until size bytes are there or the file ends; readSome(to, length,
// at) reads once at the at-th byte of the request.
template <class ReadSome>
bool ReadFully(void* buffer, size_t size, size_t* done, ReadSome readSome)
{
    auto* out = static_cast<BYTE*>(buffer);
    size_t total = 0;
    while (total < size) {
        ssize_t n = readSome(out + total, size - total, total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *done = total;
            return Failed();
        }
        if (n == 0)
            break;
        total += static_cast<size_t>(n);
    }
    *done = total;
    return true;
}

void FillFileInfo(const struct stat& st, FileInfo* info)
{
    *info = FileInfo{};
    info->directory = S_ISDIR(st.st_mode);
    info->regular = S_ISREG(st.st_mode);
    info->ownerCanWrite = (st.st_mode & S_IWUSR) != 0;
    info->permissions = st.st_mode & 07777;
    info->size = static_cast<ULONGLONG>(st.st_size);
    info->creationTime = st.st_mtim;
    info->lastAccessTime = st.st_atim;
    info->lastWriteTime = st.st_mtim;
}

} // namespace

CFile::~CFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

CFile::CFile(CFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

CFile& CFile::operator=(CFile&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool CFile::OpenRegular(const char* path, bool forWriting)
{
    Close();
    // Non-blocking, so that a pipe someone left under the name cannot hold
    // the calling thread; anything but a plain file is refused below.
    int flags = O_CLOEXEC | O_NONBLOCK | (forWriting ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY);
    int fd = ::open(path, flags, 0666);
    if (fd < 0)
        return Failed();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

bool CFile::Create(const char* path, unsigned permissions)
{
    Close();
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, static_cast<mode_t>(permissions));
    if (fd < 0)
        return Failed();
    fd_ = fd;
    return true;
}

bool CFile::Read(void* buffer, size_t size, size_t* done)
{
    return ReadFully(buffer, size, done, [this](BYTE* to, size_t length, size_t) { return ::read(fd_, to, length); });
}

bool CFile::ReadAt(ULONGLONG offset, void* buffer, size_t size, size_t* done)
{
    return ReadFully(buffer, size, done, [this, offset](BYTE* to, size_t length, size_t at) {
        return ::pread(fd_, to, length, static_cast<off_t>(offset + at));
    });
}

bool CFile::Write(const void* data, size_t size)
{
    const auto* in = static_cast<const BYTE*>(data);
    size_t total = 0;
    while (total < size) {
        ssize_t n = ::write(fd_, in + total, size - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Failed();
        total += static_cast<size_t>(n);
    }
    return true;
}

bool CFile::Flush()
{
    return ::fsync(fd_) == 0 ? true : Failed();
}

bool CFile::Close()
{
    if (fd_ < 0)
        return true;
    int rc = ::close(std::exchange(fd_, -1));
    return rc == 0 ? true : Failed();
}

bool CFile::GetInfo(FileInfo* info) const
{
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return Failed();
    FillFileInfo(st, info);
    return true;
}

bool CFile::GetPosition(ULONGLONG* position) const
{
    off_t at = fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_CUR);
    if (at < 0)
        return Failed();
    *position = static_cast<ULONGLONG>(at);
    return true;
}

bool CFile::SetPermissions(unsigned permissions)
{
    return ::fchmod(fd_, static_cast<mode_t>(permissions)) == 0 ? true : Failed();
}
