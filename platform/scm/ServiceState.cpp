#include "platform/scm/ServiceState.h"

#include "platform/win/StateRoot.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tq::scm {

namespace {

constexpr DWORD kStatusMagic = 0x53535154; // "TQSS"
constexpr DWORD kStatusVersion = 1;

struct StatusFileImage {
    DWORD magic;
    DWORD version;
    SERVICE_STATUS status;
    DWORD processId;
};

std::string LowerName(const std::string& name)
{
    std::string s = name;
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

flock WholeFileLock(short type)
{
    flock lk{};
    lk.l_type = type;
    lk.l_whence = SEEK_SET;
    lk.l_start = 0;
    lk.l_len = 0;
    return lk;
}

} // namespace

bool IsValidServiceName(const char* name)
{
    if (name == nullptr)
        return false;
    size_t len = std::strlen(name);
    if (len == 0 || len > kMaxServiceNameLength)
        return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '\\' || c < 0x20)
            return false;
    }
    return true;
}

std::string ServicesFolder()
{
    return StateRoot() + "/run/services";
}

bool EnsureServicesFolder()
{
    return CreateFolders(ServicesFolder());
}

std::string ServiceFilePath(const std::string& name, const char* suffix)
{
    return ServicesFolder() + "/" + LowerName(name) + suffix;
}

bool UidIsPrivileged(uid_t uid)
{
    if (uid == 0)
        return true;
    struct stat st{};
    if (::stat(ServicesFolder().c_str(), &st) != 0 && ::stat(StateRoot().c_str(), &st) != 0)
        return true; // nothing is installed under a state root that does not exist
    return st.st_uid == uid;
}

bool CallerIsPrivileged()
{
    return UidIsPrivileged(::geteuid());
}

bool ReadStatusFile(const std::string& name, StatusRecord* record)
{
    int fd = ::open(ServiceFilePath(name, ".status").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    StatusFileImage image{};
    ssize_t n = ::read(fd, &image, sizeof image);
    char extra;
    bool exact = n == static_cast<ssize_t>(sizeof image) && ::read(fd, &extra, 1) == 0;
    ::close(fd);
    if (!exact || image.magic != kStatusMagic || image.version != kStatusVersion)
        return false;
    record->status = image.status;
    record->processId = image.processId;
    return true;
}

bool WriteStatusFile(const std::string& name, const StatusRecord& record)
{
    if (!EnsureServicesFolder())
        return false;
    std::string path = ServiceFilePath(name, ".status");
    std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
    StatusFileImage image{kStatusMagic, kStatusVersion, record.status, record.processId};
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, &image, sizeof image) == static_cast<ssize_t>(sizeof image);
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

void RemoveServiceRunFiles(const std::string& name)
{
    // The lock file stays: a starter may hold it open this very moment.
    ::unlink(ServiceFilePath(name, ".status").c_str());
    ::unlink(ServiceFilePath(name, ".sock").c_str());
}

StatusRecord MakeStatus(DWORD state, DWORD exitCode, DWORD processId)
{
    StatusRecord r;
    r.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    r.status.dwCurrentState = state;
    r.status.dwWin32ExitCode = exitCode;
    r.processId = processId;
    return r;
}

int TakeServiceLock(const std::string& name, bool* heldElsewhere)
{
    *heldElsewhere = false;
    if (!EnsureServicesFolder())
        return -1;
    int fd = ::open(ServiceFilePath(name, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    // An open-file-description lock goes with the descriptor into the service
    // process and lives exactly as long as that process keeps it.
    flock lk = WholeFileLock(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lk) != 0) {
        int err = errno;
        ::close(fd);
        *heldElsewhere = err == EAGAIN || err == EACCES;
        errno = err;
        return -1;
    }
    return fd;
}

bool ServiceLockHeld(const std::string& name)
{
    int fd = ::open(ServiceFilePath(name, ".lock").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    flock lk = WholeFileLock(F_RDLCK);
    bool held = ::fcntl(fd, F_OFD_GETLK, &lk) == 0 && lk.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

SERVICE_STATUS_PROCESS CurrentStatus(const std::string& name)
{
    bool held = ServiceLockHeld(name);
    StatusRecord r;
    if (!ReadStatusFile(name, &r))
        r = MakeStatus(SERVICE_STOPPED, ERROR_SERVICE_NEVER_STARTED, 0);
    if (!held && r.status.dwCurrentState != SERVICE_STOPPED)
        r = MakeStatus(SERVICE_STOPPED, ERROR_PROCESS_ABORTED, 0);
    // A process that reported the stop may hold the lock a moment longer; it
    // is no service process any more.
    if (r.status.dwCurrentState == SERVICE_STOPPED) {
        r.status.dwControlsAccepted = 0;
        r.status.dwCheckPoint = 0;
        r.status.dwWaitHint = 0;
        r.processId = 0;
    }
    SERVICE_STATUS_PROCESS out{};
    out.dwServiceType = r.status.dwServiceType;
    out.dwCurrentState = r.status.dwCurrentState;
    out.dwControlsAccepted = r.status.dwControlsAccepted;
    out.dwWin32ExitCode = r.status.dwWin32ExitCode;
    out.dwServiceSpecificExitCode = r.status.dwServiceSpecificExitCode;
    out.dwCheckPoint = r.status.dwCheckPoint;
    out.dwWaitHint = r.status.dwWaitHint;
    out.dwProcessId = r.processId;
    return out;
}

bool ServiceIsActive(const std::string& name)
{
    return CurrentStatus(name).dwCurrentState != SERVICE_STOPPED;
}

DWORD ScmTimeoutMs()
{
    const char* v = std::getenv("TQ_SCM_TIMEOUT_MS");
    if (v != nullptr && *v != '\0') {
        char* end = nullptr;
        unsigned long ms = std::strtoul(v, &end, 10);
        if (end != v && *end == '\0' && ms > 0 && ms <= 3600000)
            return static_cast<DWORD>(ms);
    }
    return 30000;
}

} // namespace tq::scm
