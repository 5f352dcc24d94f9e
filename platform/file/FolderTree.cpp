#include "platform/file/FolderTree.h"

#include "platform/win/LastError.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// No automount is triggered: what is not mounted yet is nothing of ours.
constexpr int kStatFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
constexpr unsigned kStatMask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_INO | STATX_SIZE | STATX_MNT_ID;

using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;

bool Failed()
{
    SetLastErrorFromErrno();
    return false;
}

bool Failed(DWORD error)
{
    SetLastError(error);
    return false;
}

bool IsDots(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Whether what st describes lies on another mount than root: the device
// tells a mount of another file system, the mount id a bind mount of the
// same one (same device), the attribute any mount point where the kernel
// gives no mount id.
bool OnAnotherMount(const struct statx& st, const struct statx& root)
{
    if (st.stx_dev_major != root.stx_dev_major || st.stx_dev_minor != root.stx_dev_minor)
        return true;
    if ((st.stx_mask & STATX_MNT_ID) != 0 && (root.stx_mask & STATX_MNT_ID) != 0 && st.stx_mnt_id != root.stx_mnt_id)
        return true;
    return (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

bool StatOpen(int fd, struct statx* st)
{
    return ::statx(fd, "", AT_EMPTY_PATH | kStatFlags, kStatMask, st) == 0 ? true : Failed();
}

// A mount's root has another mount id than its "..", which the lookup takes
// across to the mount below; "/" has none below and says so by the attribute.
bool IsMountRoot(int fd, const struct statx& st)
{
    if ((st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (st.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    struct statx parent {};
    return ::statx(fd, "..", kStatFlags, kStatMask, &parent) == 0 && OnAnotherMount(st, parent);
}

// The path without trailing slashes, which would make the open follow a link.
std::string Trimmed(const char* path)
{
    std::string text = path;
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// ENOTDIR or ELOOP with O_NOFOLLOW: ERROR_DIRECTORY when the last name is
// there as something else (a link too), the path's error otherwise.
DWORD OpenError(int at, const char* name)
{
    const int error = errno;
    if (error != ENOTDIR && error != ELOOP)
        return Win32ErrorFromErrno(error);
    struct stat st {};
    if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
        return ERROR_DIRECTORY;
    return ERROR_PATH_NOT_FOUND;
}

// The open folder read as entries; on failure closed, with the error set.
Folder Entries(int fd)
{
    Folder folder(::fdopendir(fd), ::closedir);
    if (!folder) {
        SetLastErrorFromErrno();
        ::close(fd);
    }
    return folder;
}

// Opens a folder not through a link, and checks that it lies on root's mount.
Folder OpenInside(int at, const char* name, const struct statx& root, bool* elsewhere)
{
    const int fd = ::openat(at, name, kFolderFlags);
    if (fd < 0) {
        SetLastError(OpenError(at, name));
        return Folder(nullptr, ::closedir);
    }
    struct statx st {};
    if (!StatOpen(fd, &st)) {
        ::close(fd);
        return Folder(nullptr, ::closedir);
    }
    if (OnAnotherMount(st, root)) {
        // Mounted there between the look and the open.
        *elsewhere = true;
        ::close(fd);
        return Folder(nullptr, ::closedir);
    }
    return Entries(fd);
}

Folder OpenRoot(const std::string& path, struct statx* st)
{
    const int fd = ::open(path.c_str(), kFolderFlags);
    if (fd < 0) {
        SetLastError(OpenError(AT_FDCWD, path.c_str()));
        return Folder(nullptr, ::closedir);
    }
    if (!StatOpen(fd, st)) {
        ::close(fd);
        return Folder(nullptr, ::closedir);
    }
    return Entries(fd);
}

// The next entry other than "." and ".."; nullptr at the end (errno 0) or on
// failure (errno set).
const dirent* NextEntry(DIR* folder)
{
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (entry == nullptr || !IsDots(entry->d_name))
            return entry;
    }
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Gives what at and name lead to the owner and group of st, as far as the
// process may: without the right to give it away, at least the group (where
// it is one of the caller's own); else it stays the caller's, silently. An id
// the file system or the namespace cannot hold is borne the same way.
bool KeepOwner(int at, const char* name, int flags, const struct statx& st)
{
    if (::fchownat(at, name, st.stx_uid, st.stx_gid, flags) == 0)
        return true;
    if (errno == EPERM && ::fchownat(at, name, static_cast<uid_t>(-1), st.stx_gid, flags) == 0)
        return true;
    return errno == EPERM || errno == EINVAL ? true : Failed();
}

// Owner first: a change of owner clears the set-id bits the mode then gives.
bool KeepOwnerAndMode(int fd, const struct statx& st)
{
    if (!KeepOwner(fd, "", AT_EMPTY_PATH, st))
        return false;
    return ::fchmod(fd, st.stx_mode & 07777) == 0 ? true : Failed();
}

// Copies the open file in to a new file name in the folder into, with the
// owner and the permission bits of st whatever the umask, and syncs it.
bool CopyFileContent(int in, int into, const char* name, const struct statx& st)
{
    const int out = ::openat(into, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (out < 0)
        return Failed();
    bool copied = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            break;
        if (n < 0 || !WriteAll(out, buffer.data(), static_cast<size_t>(n))) {
            copied = Failed();
            break;
        }
    }
    if (copied)
        copied = KeepOwnerAndMode(out, st);
    if (copied && ::fsync(out) != 0)
        copied = Failed();
    if (::close(out) != 0 && copied)
        copied = Failed();
    return copied;
}

bool CopyFile(int from, int into, const char* name, const struct statx& root)
{
    // Non-blocking, so that a pipe put there after the look cannot hold the copy.
    const int in = ::openat(from, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return Failed();
    struct statx st {};
    bool copied = StatOpen(in, &st);
    if (copied && OnAnotherMount(st, root))
        copied = Failed(ERROR_NOT_SAME_DEVICE);
    else if (copied && S_ISREG(st.stx_mode))
        copied = CopyFileContent(in, into, name, st);
    ::close(in);
    return copied;
}

bool CopyLink(int from, int into, const char* name, const struct statx& st)
{
    std::vector<char> target(static_cast<size_t>(st.stx_size) + 1);
    for (;;) {
        const ssize_t n = ::readlinkat(from, name, target.data(), target.size());
        if (n < 0)
            return Failed();
        if (static_cast<size_t>(n) < target.size()) {
            target[static_cast<size_t>(n)] = '\0';
            break;
        }
        // The link changed since the look: a longer target.
        target.resize(target.size() * 2);
    }
    if (::symlinkat(target.data(), into, name) != 0)
        return Failed();
    return KeepOwner(into, name, AT_SYMLINK_NOFOLLOW, st);
}

bool CopyEntries(DIR* from, int into, const struct statx& root)
{
    const int fromFd = ::dirfd(from);
    while (const dirent* entry = NextEntry(from)) {
        const char* name = entry->d_name;
        struct statx st {};
        if (::statx(fromFd, name, kStatFlags, kStatMask, &st) != 0)
            return Failed();
        if (OnAnotherMount(st, root))
            return Failed(ERROR_NOT_SAME_DEVICE);
        if (S_ISDIR(st.stx_mode)) {
            bool elsewhere = false;
            Folder source = OpenInside(fromFd, name, root, &elsewhere);
            if (elsewhere)
                return Failed(ERROR_NOT_SAME_DEVICE);
            if (!source)
                return false;
            // Writable by us until filled, whatever the original's bits.
            if (::mkdirat(into, name, S_IRWXU) != 0)
                return Failed();
            const int made = ::openat(into, name, kFolderFlags);
            if (made < 0)
                return Failed();
            bool copied = CopyEntries(source.get(), made, root);
            // Its own bits only once filled, since they may deny us writing;
            // synced before its parent is.
            if (copied)
                copied = KeepOwnerAndMode(made, st);
            if (copied && ::fsync(made) != 0)
                copied = Failed();
            ::close(made);
            if (!copied)
                return false;
        } else if (S_ISREG(st.stx_mode)) {
            if (!CopyFile(fromFd, into, name, root))
                return false;
        } else if (S_ISLNK(st.stx_mode)) {
            if (!CopyLink(fromFd, into, name, st))
                return false;
        }
        // Pipes, sockets and devices are no storage folder's business.
    }
    return errno == 0 ? true : Failed();
}

// Removes what the open folder holds, going on past failures; false (the
// first failure's error set) when anything stays.
bool RemoveEntries(DIR* folder, const struct statx& root, DWORD* firstError)
{
    const int fd = ::dirfd(folder);
    // Names first: a folder read while it shrinks may skip entries.
    std::vector<std::string> names;
    while (const dirent* entry = NextEntry(folder))
        names.emplace_back(entry->d_name);
    bool removed = true;
    auto fail = [&](DWORD error) {
        if (*firstError == ERROR_SUCCESS)
            *firstError = error;
        removed = false;
    };
    if (errno != 0)
        fail(Win32ErrorFromErrno(errno));
    for (const std::string& name : names) {
        struct statx st {};
        if (::statx(fd, name.c_str(), kStatFlags, kStatMask, &st) != 0) {
            if (errno != ENOENT)
                fail(Win32ErrorFromErrno(errno));
            continue;
        }
        if (OnAnotherMount(st, root)) {
            fail(ERROR_BUSY);
            continue;
        }
        if (!S_ISDIR(st.stx_mode)) {
            if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT)
                fail(Win32ErrorFromErrno(errno));
            continue;
        }
        bool elsewhere = false;
        Folder inner = OpenInside(fd, name.c_str(), root, &elsewhere);
        if (!inner) {
            fail(elsewhere ? ERROR_BUSY : GetLastError());
            continue;
        }
        const bool emptied = RemoveEntries(inner.get(), root, firstError);
        inner.reset();
        if (!emptied)
            removed = false;
        else if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0)
            fail(Win32ErrorFromErrno(errno));
    }
    return removed;
}

bool RemoveFolderAt(int parent, const char* name)
{
    const int fd = ::openat(parent, name, kFolderFlags);
    if (fd < 0)
        return Failed(OpenError(parent, name));
    struct statx root {};
    if (!StatOpen(fd, &root)) {
        ::close(fd);
        return false;
    }
    if (IsMountRoot(fd, root)) {
        ::close(fd);
        return Failed(ERROR_BUSY);
    }
    Folder top = Entries(fd);
    if (!top)
        return false;
    DWORD firstError = ERROR_SUCCESS;
    if (!RemoveEntries(top.get(), root, &firstError))
        return Failed(firstError);
    top.reset();
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 ? true : Failed();
}

bool FindMount(DIR* folder, const std::string& path, const struct statx& root, std::string* mountPoint)
{
    const int fd = ::dirfd(folder);
    while (const dirent* entry = NextEntry(folder)) {
        const char* name = entry->d_name;
        struct statx st {};
        if (::statx(fd, name, kStatFlags, kStatMask, &st) != 0) {
            if (errno == ENOENT)
                continue;
            return Failed();
        }
        const std::string inner = path + "/" + name;
        bool elsewhere = OnAnotherMount(st, root);
        if (!elsewhere && S_ISDIR(st.stx_mode)) {
            Folder next = OpenInside(fd, name, root, &elsewhere);
            if (!elsewhere) {
                if (!next)
                    return false;
                if (FindMount(next.get(), inner, root, mountPoint))
                    return true;
                if (GetLastError() != ERROR_SUCCESS)
                    return false;
            }
        }
        if (elsewhere) {
            *mountPoint = inner;
            return true;
        }
    }
    return errno == 0 ? Failed(ERROR_SUCCESS) : Failed();
}

} // namespace

bool CopyFolderTree(const char* from, const char* into)
{
    struct statx root {};
    Folder source = OpenRoot(Trimmed(from), &root);
    if (!source)
        return false;
    struct statx target {};
    Folder destination = OpenRoot(Trimmed(into), &target);
    if (!destination)
        return false;
    const int top = ::dirfd(destination.get());
    if (!CopyEntries(source.get(), top, root))
        return false;
    if (::fsync(top) != 0)
        return Failed();
    // The caller keeps into private while it is incomplete: it opens up only
    // once all of it is on disk.
    if (!KeepOwnerAndMode(top, root))
        return false;
    return ::fsync(top) == 0 ? true : Failed();
}

bool RemoveFolderTree(const char* path)
{
    const std::string folder = Trimmed(path);
    if (folder.empty())
        return Failed(ERROR_PATH_NOT_FOUND);
    // The folder's own name goes from its parent, which is opened as named.
    const size_t slash = folder.rfind('/');
    const std::string parentPath = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
    if (name.empty()) // "/" itself
        return Failed(ERROR_BUSY);
    if (IsDots(name.c_str()))
        return Failed(ERROR_INVALID_PARAMETER);
    const int parent = ::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0)
        return Failed(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    const bool removed = RemoveFolderAt(parent, name.c_str());
    ::close(parent);
    return removed;
}

bool FolderHoldsMount(const char* folder, std::string* mountPoint)
{
    const std::string path = Trimmed(folder);
    struct statx root {};
    Folder top = OpenRoot(path, &root);
    if (!top)
        return false;
    if (IsMountRoot(::dirfd(top.get()), root)) {
        *mountPoint = path;
        return true;
    }
    return FindMount(top.get(), path == "/" ? "" : path, root, mountPoint);
}
