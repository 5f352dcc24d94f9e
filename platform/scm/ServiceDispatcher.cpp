#include "platform/scm/ServiceDispatcher.h"

#include "platform/scm/ServiceChannel.h"
#include "platform/scm/ServiceState.h"
#include "platform/win/LastError.h"
#include "platform/win/Process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tq::scm {

namespace {

// A descriptor number from the environment, or -1.
int FdFromEnvironment(const char* variable)
{
    const char* v = std::getenv(variable);
    if (v == nullptr || *v == '\0')
        return -1;
    char* end = nullptr;
    long fd = std::strtol(v, &end, 10);
    if (*end != '\0' || fd < 0 || fd > 65535 || ::fcntl(static_cast<int>(fd), F_GETFD) < 0)
        return -1;
    return static_cast<int>(fd);
}

bool IsServiceLock(int fd, const std::string& name)
{
    struct stat held{};
    struct stat file{};
    if (::fstat(fd, &held) != 0 || ::stat(ServiceFilePath(name, ".lock").c_str(), &file) != 0 ||
        held.st_dev != file.st_dev || held.st_ino != file.st_ino)
        return false;
    // Succeeds only for the holder of the lock (or when nobody holds it, and
    // then this process holds it from now on).
    flock lk{};
    lk.l_type = F_WRLCK;
    lk.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &lk) == 0;
}

bool IsSocket(int fd)
{
    struct stat st{};
    return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool StateTakesControls(DWORD state)
{
    return state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING && state != SERVICE_STOPPED;
}

bool Accepts(const SERVICE_STATUS& status, DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP: return (status.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: return (status.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE) != 0;
    case SERVICE_CONTROL_INTERROGATE: return true;
    default: return control >= 128 && control <= 255;
    }
}

} // namespace

CServiceDispatcher& CServiceDispatcher::Instance()
{
    static CServiceDispatcher dispatcher;
    return dispatcher;
}

DWORD CServiceDispatcher::Claim(const SERVICE_TABLE_ENTRYA* table, const SERVICE_TABLE_ENTRYA** entry)
{
    const char* name = std::getenv(kEnvServiceName);
    if (name == nullptr)
        return ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
    *entry = nullptr;
    for (const SERVICE_TABLE_ENTRYA* e = table; e->lpServiceName != nullptr; ++e) {
        if (::strcasecmp(e->lpServiceName, name) == 0 && e->lpServiceProc != nullptr) {
            *entry = e;
            break;
        }
    }
    int lockFd = FdFromEnvironment(kEnvLockFd);
    int channelFd = FdFromEnvironment(kEnvChannelFd);
    if (*entry == nullptr || lockFd < 0 || channelFd < 0 || !IsServiceLock(lockFd, name) || !IsSocket(channelFd))
        return ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;

    name_ = name;
    args_.assign(1, (*entry)->lpServiceName);
    const char* count = std::getenv(kEnvArgCount);
    unsigned long n = count != nullptr ? std::strtoul(count, nullptr, 10) : 0;
    for (unsigned long i = 1; i <= n && i <= 4096; ++i) {
        const char* arg = std::getenv((kEnvArgPrefix + std::to_string(i)).c_str());
        args_.emplace_back(arg != nullptr ? arg : "");
    }
    // Children of the service are no services.
    for (unsigned long i = 1; i <= n && i <= 4096; ++i)
        ::unsetenv((kEnvArgPrefix + std::to_string(i)).c_str());
    for (const char* v : {kEnvServiceName, kEnvLockFd, kEnvChannelFd, kEnvArgCount})
        ::unsetenv(v);
    ::fcntl(lockFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(channelFd, F_SETFD, FD_CLOEXEC);
    lockFd_ = lockFd;
    channelFd_ = channelFd;
    return ERROR_SUCCESS;
}

BOOL CServiceDispatcher::Run(const SERVICE_TABLE_ENTRYA* table)
{
    const SERVICE_TABLE_ENTRYA* entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (active_) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        if (table == nullptr || table[0].lpServiceName == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        DWORD r = Claim(table, &entry);
        if (r != ERROR_SUCCESS) {
            SetLastError(r);
            return FALSE;
        }
        active_ = true;
        stopped_ = false;
        mainReturned_ = false;
        handler_ = nullptr;
        status_ = MakeStatus(SERVICE_START_PENDING, ERROR_SUCCESS, 0).status;

        int wake[2];
        std::string socketPath = ServiceFilePath(name_, ".sock");
        listenFd_ = ListenAt(socketPath);
        if (listenFd_ < 0 || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
            DWORD err = Win32ErrorFromErrno(errno);
            status_.dwWin32ExitCode = err;
            ReportStoppedLocked();
            CloseAll();
            SetLastError(err);
            return FALSE;
        }
        // Every user may interrogate; the dispatcher checks each caller itself.
        ::chmod(socketPath.c_str(), 0666);
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
        WriteStatusFile(name_, StatusRecord{status_, GetCurrentProcessId()});
    }

    std::vector<char*> argv;
    for (std::string& a : args_)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::thread main;
    try {
        main = std::thread([this, entry, &argv] {
            try {
                entry->lpServiceProc(static_cast<DWORD>(argv.size() - 1), argv.data());
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (!stopped_) {
                    status_.dwWin32ExitCode = ERROR_EXCEPTION_IN_SERVICE;
                    ReportStoppedLocked();
                }
            }
            std::lock_guard<std::mutex> lock(mutex_);
            mainReturned_ = true;
            Wake();
        });
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        status_.dwWin32ExitCode = ERROR_SERVICE_NO_THREAD;
        ReportStoppedLocked();
        CloseAll();
        SetLastError(ERROR_SERVICE_NO_THREAD);
        return FALSE;
    }
    SendLaunchMessage(channelFd_, LaunchTag::Connected, 0, -1);
    CloseFd(channelFd_);

    Serve();
    main.join();
    std::lock_guard<std::mutex> lock(mutex_);
    // A service main that returned without saying so has stopped all the same.
    if (!stopped_)
        ReportStoppedLocked();
    CloseAll();
    return TRUE;
}

void CServiceDispatcher::Serve()
{
    while (true) {
        int listenFd;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (mainReturned_)
                return;
            if (stopped_)
                CloseFd(listenFd_);
            listenFd = listenFd_;
        }
        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {listenFd, POLLIN, 0}};
        int r = ::poll(fds, listenFd >= 0 ? 2 : 1, -1);
        if (r < 0 && errno != EINTR)
            Sleep(10);
        char drain[64];
        while (::read(wakeRead_, drain, sizeof drain) > 0) {
        }
        if (listenFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                ServeClient(client);
                ::close(client);
            }
        }
    }
}

void CServiceDispatcher::ServeClient(int fd)
{
    ucred peer{};
    socklen_t len = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0)
        return;
    ControlRequest request{};
    // A caller that connects and says nothing must not hold up the others.
    if (ReadExact(fd, &request, sizeof request, GetTickCount64() + 2000) != IoResult::Ok ||
        request.magic != kControlMagic)
        return;
    ControlReply reply{};
    reply.magic = kControlMagic;
    reply.error = Control(request.control, peer.uid);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reply.status = status_;
    }
    WriteExact(fd, &reply, sizeof reply);
}

DWORD CServiceDispatcher::Control(DWORD control, uid_t peer)
{
    LPHANDLER_FUNCTION handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (control != SERVICE_CONTROL_INTERROGATE && !UidIsPrivileged(peer))
            return ERROR_ACCESS_DENIED;
        if (stopped_)
            return ERROR_SERVICE_NOT_ACTIVE;
        if (handler_ == nullptr || !StateTakesControls(status_.dwCurrentState))
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        if (!Accepts(status_, control))
            return ERROR_INVALID_SERVICE_CONTROL;
        handler = handler_;
    }
    try {
        handler(control);
    } catch (...) {
        return ERROR_EXCEPTION_IN_SERVICE;
    }
    return ERROR_SUCCESS;
}

void CServiceDispatcher::Wake()
{
    if (wakeWrite_ >= 0) {
        char c = 1;
        if (::write(wakeWrite_, &c, 1) < 0) {
            // A full pipe already wakes the loop.
        }
    }
}

void CServiceDispatcher::ReportStoppedLocked()
{
    status_.dwCurrentState = SERVICE_STOPPED;
    status_.dwControlsAccepted = 0;
    status_.dwCheckPoint = 0;
    status_.dwWaitHint = 0;
    // The record first, then the lock: a query in between still reads stopped.
    WriteStatusFile(name_, StatusRecord{status_, GetCurrentProcessId()});
    ::unlink(ServiceFilePath(name_, ".sock").c_str());
    CloseFd(lockFd_);
    stopped_ = true;
    Wake();
}

void CServiceDispatcher::CloseAll()
{
    CloseFd(listenFd_);
    CloseFd(channelFd_);
    CloseFd(lockFd_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
    handler_ = nullptr;
    active_ = false;
}

SERVICE_STATUS_HANDLE CServiceDispatcher::RegisterHandler(const char* serviceName, LPHANDLER_FUNCTION handler)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!active_ || stopped_ || serviceName == nullptr || ::strcasecmp(serviceName, name_.c_str()) != 0) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    if (handler == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    handler_ = handler;
    return &record_;
}

BOOL CServiceDispatcher::SetStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!active_ || stopped_ || handle != &record_ || handler_ == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (status == nullptr || status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    status_ = *status;
    if (status_.dwCurrentState == SERVICE_STOPPED) {
        ReportStoppedLocked();
        return TRUE;
    }
    if (!WriteStatusFile(name_, StatusRecord{status_, GetCurrentProcessId()})) {
        SetLastError(Win32ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

} // namespace tq::scm

BOOL StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table)
{
    return tq::scm::CServiceDispatcher::Instance().Run(table);
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerA(const char* serviceName, LPHANDLER_FUNCTION handler)
{
    return tq::scm::CServiceDispatcher::Instance().RegisterHandler(serviceName, handler);
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status)
{
    return tq::scm::CServiceDispatcher::Instance().SetStatus(handle, status);
}
