#include "platform/file/FileSystem.h"

#include "platform/file/IdentityAt.h"
#include "platform/win/LastError.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Failed()
{
    SetLastErrorFromErrno();
    return false;
}

std::timespec FromStatx(const statx_timestamp& t)
{
    std::timespec ts{};
    ts.tv_sec = t.tv_sec;
    ts.tv_nsec = t.tv_nsec;
    return ts;
}

} // namespace

bool GetPathInfo(const char* path, FileInfo* info)
{
    struct statx st {};
    if (::statx(AT_FDCWD, path, 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0)
        return Failed();
    *info = FileInfo{};
    info->directory = S_ISDIR(st.stx_mode);
    info->regular = S_ISREG(st.stx_mode);
    info->ownerCanWrite = (st.stx_mode & S_IWUSR) != 0;
    info->permissions = st.stx_mode & 07777;
    info->size = st.stx_size;
    info->creationTime = FromStatx((st.stx_mask & STATX_BTIME) != 0 ? st.stx_btime : st.stx_mtime);
    info->lastAccessTime = FromStatx(st.stx_atime);
    info->lastWriteTime = FromStatx(st.stx_mtime);
    return true;
}

bool PathExists(const char* path)
{
    struct stat st {};
    return ::stat(path, &st) == 0 ? true : Failed();
}

bool PathIsWritable(const char* path)
{
    return ::access(path, W_OK) == 0 ? true : Failed();
}

bool DeletePath(const char* path)
{
    return ::unlink(path) == 0 ? true : Failed();
}

bool RenamePath(const char* from, const char* to)
{
    return ::rename(from, to) == 0 ? true : Failed();
}

bool MovePath(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return Failed();
    // A file system without the flag: a name that appears between the check
    // and the rename is replaced, which nothing else offers there.
    struct stat st {};
    if (::lstat(to, &st) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    return RenamePath(from, to);
}

bool GetPathIdentity(const char* path, PathIdentity* identity)
{
    return IdentityAt(AT_FDCWD, path, 0, identity) ? true : Failed();
}

bool GetOwnPathIdentity(const char* path, PathIdentity* identity)
{
    return IdentityAt(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, identity) ? true : Failed();
}

bool LinkPath(const char* existing, const char* link)
{
    return ::link(existing, link) == 0 ? true : Failed();
}

bool ListFolder(const char* folder, std::vector<std::string>* names)
{
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) {
        if (errno != ENOENT)
            return Failed();
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    names->clear();
    while (const dirent* entry = ::readdir(dir))
        names->emplace_back(entry->d_name);
    ::closedir(dir);
    return true;
}

bool FlushFolder(const char* folder)
{
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Failed();
    bool flushed = ::fsync(fd) == 0 ? true : Failed();
    ::close(fd);
    return flushed;
}

size_t OpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 0;
    return static_cast<size_t>(limit.rlim_cur);
}
