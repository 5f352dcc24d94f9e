#include "platform/registry/RegistryStore.h"

#include "platform/registry/Registry.h"
#include "platform/win/DebugOutput.h"
#include "platform/win/LastError.h"
#include "platform/win/NamedFileLock.h"
#include "platform/win/StateRoot.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string Folder(const std::string& path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::string& text)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buffer, static_cast<size_t>(n));
    }
}

// The rename of a file into it is durable only once the folder is synced.
void SyncFolder(const std::string& path)
{
    int dir = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// The writer's own name for the file that replaces the registry file.
std::string TempPath(const std::string& path)
{
    return path + ".tmp." + std::to_string(::getpid());
}

int CreateTemp(const std::string& temp, mode_t mode)
{
    // Left by a writer of this pid that died; no other writer uses the name.
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
        return -1;
    return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
}

int LockTemp(const std::string& temp)
{
    // An open file apart from fd_, which outlives the hold (in a forked child too).
    const int lock = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (lock < 0 || ::flock(lock, LOCK_EX | LOCK_NB) == 0)
        return lock;
    const int err = errno;
    ::close(lock);
    errno = err;
    return -1;
}

bool CreateFirstFile(const std::string& path)
{
    // An empty registry, whole before it has the name: readers never see a
    // part of it, and a file another writer made meanwhile is left alone.
    const std::string temp = TempPath(path);
    const int fd = CreateTemp(temp, 0644);
    if (fd < 0)
        return false;
    RegistryHives empty;
    bool made = WriteAll(fd, FormatRegistryText(empty)) && ::fsync(fd) == 0 &&
                (::link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST);
    const int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    if (made)
        SyncFolder(path);
    errno = err;
    return made;
}

void Unlock(int& fd)
{
    // Unlocked, not only closed: a child forked meanwhile still has the open file.
    ::flock(fd, LOCK_UN);
    ::close(fd);
    fd = -1;
}

// The registry file, made first when missing; -1 with the last error set.
int OpenOrCreate(const std::string& path)
{
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (errno != ENOENT || !CreateFirstFile(path)) {
            SetLastErrorFromErrno();
            return -1;
        }
    }
}

} // namespace

CRegistryStore::~CRegistryStore()
{
    Forget();
    if (lockFd_ >= 0)
        ::close(lockFd_);
    if (fileLockFd_ >= 0)
        ::close(fileLockFd_);
}

void CRegistryStore::Forget()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    loaded_ = false;
    loadResult_ = ERROR_SUCCESS;
    for (auto& hive : hives_)
        hive.Clear();
}

LONG CRegistryStore::Refresh(const std::string& path)
{
    if (path != path_) {
        Forget();
        path_ = path;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return static_cast<LONG>(Win32ErrorFromErrno(errno));
        if (!loaded_ || fd_ >= 0) {
            // No file is an empty registry.
            Forget();
            loaded_ = true;
            lastError_.clear();
        }
        return ERROR_SUCCESS;
    }
    if (loaded_ && fd_ >= 0 && SameFile(st, identity_))
        return loadResult_;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Refresh(path); // replaced and removed between the two calls
        return static_cast<LONG>(Win32ErrorFromErrno(errno));
    }
    if (::fstat(fd, &st) != 0) {
        LONG e = static_cast<LONG>(Win32ErrorFromErrno(errno));
        ::close(fd);
        return e;
    }
    return Load(path, fd, st);
}

LONG CRegistryStore::Load(const std::string& path, int fd, const struct stat& st)
{
    std::string text;
    if (!ReadAll(fd, text)) {
        LONG e = static_cast<LONG>(errno == EISDIR ? ERROR_REGISTRY_CORRUPT : ERROR_REGISTRY_IO_FAILED);
        lastError_ = path + ": cannot read: " + std::strerror(errno);
        ::close(fd);
        OutputDebugStringA(("Registry file " + lastError_ + "\n").c_str());
        return e;
    }
    Forget();
    fd_ = fd;
    identity_ = st;
    loaded_ = true;
    RegistryParseError error;
    if (!ParseRegistryText(text, hives_, error)) {
        for (auto& hive : hives_)
            hive.Clear();
        loadResult_ = static_cast<LONG>(ERROR_REGISTRY_CORRUPT);
        lastError_ = path + ", line " + std::to_string(error.line) + ": " + error.reason;
        // Said once per version of the file; every call fails until it is mended.
        OutputDebugStringA(("Registry file " + lastError_ + "; the registry is unusable until it is mended\n").c_str());
        return loadResult_;
    }
    lastError_.clear();
    return ERROR_SUCCESS;
}

LONG CRegistryStore::Read(const std::function<LONG(RegistryHives&)>& read)
{
    LONG e = Refresh(RegistryFilePath());
    if (e != static_cast<LONG>(ERROR_SUCCESS))
        return e;
    return read(hives_);
}

LONG CRegistryStore::Change(const std::function<LONG(RegistryHives&, bool& changed)>& change)
{
    LONG e = Hold();
    if (e != static_cast<LONG>(ERROR_SUCCESS))
        return e;
    e = ChangeHeld(RegistryFilePath(), change);
    Release();
    return e;
}

LONG CRegistryStore::ChangeHeld(const std::string& path,
                                const std::function<LONG(RegistryHives&, bool& changed)>& change)
{
    LONG e = Refresh(path);
    if (e != static_cast<LONG>(ERROR_SUCCESS))
        return e;
    bool changed = false;
    e = change(hives_, changed);
    if (e != static_cast<LONG>(ERROR_SUCCESS) && changed)
        Forget(); // a change that failed part way: the file still holds the old content
    if (e != static_cast<LONG>(ERROR_SUCCESS) || !changed)
        return e;
    e = Save(path);
    if (e != static_cast<LONG>(ERROR_SUCCESS))
        Forget(); // the tree no longer matches the file: read it again next time
    return e;
}

LONG CRegistryStore::Hold()
{
    ForgetInheritedHold();
    if (holds_ > 0) {
        ++holds_; // the flock is the open file's: a second one would wait for the first
        return ERROR_SUCCESS;
    }
    std::string path = RegistryFilePath();
    if (!CreateFolders(Folder(path)))
        return static_cast<LONG>(Win32ErrorFromErrno(errno));
    int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return static_cast<LONG>(Win32ErrorFromErrno(errno));
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            LONG e = static_cast<LONG>(Win32ErrorFromErrno(errno));
            ::close(fd);
            return e;
        }
    }
    // The lock file alone does not keep writers apart: once removed, the next
    // writer locks a new one. The registry file, followed through each
    // replacement, does.
    struct stat locked {};
    const int fileFd = LockNamedFile(
        path.c_str(), [&path] { return OpenOrCreate(path); }, LOCK_EX, ERROR_SHARING_VIOLATION, &locked,
        NamedLockWait::Yes);
    if (fileFd < 0) {
        LONG e = static_cast<LONG>(GetLastError());
        ::close(fd);
        return e;
    }
    lockFd_ = fd;
    fileLockFd_ = fileFd;
    holds_ = 1;
    holder_ = ::getpid();
    return ERROR_SUCCESS;
}

void CRegistryStore::Release()
{
    ForgetInheritedHold();
    if (holds_ > 0 && --holds_ == 0) {
        Unlock(fileLockFd_);
        Unlock(lockFd_);
    }
}

void CRegistryStore::ForgetInheritedHold()
{
    if (holds_ == 0 || holder_ == ::getpid())
        return;
    // A forked child shares its parent's open lock files: closing its copies
    // leaves the parent's hold alone, where unlocking would end it.
    ::close(lockFd_);
    ::close(fileLockFd_);
    lockFd_ = -1;
    fileLockFd_ = -1;
    holds_ = 0;
}

bool CRegistryStore::KeepOwnerAndMode(int fd) const
{
    if (fd_ < 0)
        return true; // a first file: the creator's, under the umask
    // Another writer must not take the file over; one who may not give it
    // away keeps at least its group, so that the group can still write it.
    if (::fchown(fd, identity_.st_uid, identity_.st_gid) != 0 && errno == EPERM)
        static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), identity_.st_gid));
    // After the owner, whose change clears set-id bits; and not under the umask.
    return ::fchmod(fd, identity_.st_mode & 07777) == 0;
}

LONG CRegistryStore::Save(const std::string& path)
{
    const std::string temp = TempPath(path);
    mode_t mode = fd_ >= 0 ? (identity_.st_mode & 07777) : 0644;
    int fd = CreateTemp(temp, mode);
    if (fd < 0)
        return static_cast<LONG>(Win32ErrorFromErrno(errno));
    // The new file is locked before it has the name, so that the hold goes on
    // with it and a writer the name leads there waits.
    int lock = -1;
    if (!KeepOwnerAndMode(fd) || !WriteAll(fd, FormatRegistryText(hives_)) || ::fsync(fd) != 0 ||
        (lock = LockTemp(temp)) < 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        LONG e = static_cast<LONG>(Win32ErrorFromErrno(errno));
        if (lock >= 0)
            ::close(lock);
        ::close(fd);
        ::unlink(temp.c_str());
        return e;
    }
    Unlock(fileLockFd_);
    fileLockFd_ = lock;
    SyncFolder(path);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        LONG e = static_cast<LONG>(Win32ErrorFromErrno(errno));
        ::close(fd);
        return e;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
    identity_ = st;
    loaded_ = true;
    loadResult_ = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}
