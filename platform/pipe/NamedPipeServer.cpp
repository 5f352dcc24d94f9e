#include "platform/pipe/NamedPipeServer.h"

#include "platform/pipe/PipeAddress.h"
#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Takes the lock file of a name. -1 with ERROR_PIPE_BUSY when another server
// holds it. The lock is re-taken when the file was replaced meanwhile, so the
// file that is locked is always the one at the path.
int TakeLock(const std::string& path, DWORD* error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            *error = Win32ErrorFromErrno(errno);
            return -1;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            *error = errno == EWOULDBLOCK ? ERROR_PIPE_BUSY : Win32ErrorFromErrno(errno);
            ::close(fd);
            return -1;
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
    *error = ERROR_PIPE_BUSY;
    return -1;
}

// Milliseconds left until a time, rounded up, for poll.
int MillisecondsUntil(std::chrono::steady_clock::time_point when)
{
    auto left = std::chrono::ceil<std::chrono::milliseconds>(when - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1 << 30)) : 0;
}

int Listen(const std::string& path, int backlog, DWORD* error)
{
    CPipeAddress address(path);
    if (address.Error() != ERROR_SUCCESS) {
        *error = address.Error();
        return -1;
    }
    // Not blocking: the server tries to take up a client without a poll first.
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = Win32ErrorFromErrno(errno);
        return -1;
    }
    if (::bind(fd, address.Get(), address.Size()) != 0) {
        *error = Win32ErrorFromErrno(errno);
        ::close(fd);
        return -1;
    }
    if (::listen(fd, backlog) != 0) {
        *error = Win32ErrorFromErrno(errno);
        ::close(fd);
        ::unlink(path.c_str());
        return -1;
    }
    return fd;
}

} // namespace

CNamedPipeServer::CNamedPipeServer()
{
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CNamedPipeServer::~CNamedPipeServer()
{
    Close();
    if (wake_ >= 0)
        ::close(wake_);
}

DWORD CNamedPipeServer::Create(const std::string& pipeName, DWORD maxInstances)
{
    if (IsOpen())
        return ERROR_ALREADY_EXISTS;
    if (maxInstances == 0 || maxInstances > kMaxInstances)
        return ERROR_INVALID_PARAMETER;
    if (wake_ < 0)
        return ERROR_TOO_MANY_OPEN_FILES;
    std::string path = PipeSocketPath(pipeName);
    if (path.empty())
        return ERROR_INVALID_NAME;
    auto slash = path.rfind('/');
    std::string folder = path.substr(0, slash);
    if (!CreateFolders(folder))
        return Win32ErrorFromErrno(errno);
    std::string lockPath = folder + "/." + path.substr(slash + 1) + ".lock";
    DWORD error = ERROR_SUCCESS;
    int lock = TakeLock(lockPath, &error);
    if (lock < 0)
        return error;
    // Whatever is at the path now was left by a server that is gone.
    ::unlink(path.c_str());
    int fd = Listen(path, static_cast<int>(maxInstances) - 1, &error);
    if (fd < 0) {
        ::unlink(lockPath.c_str());
        ::close(lock);
        return error;
    }
    socketPath_ = path;
    lockPath_ = lockPath;
    listener_ = fd;
    lock_ = lock;
    maxInstances_ = maxInstances;
    backlog_ = static_cast<int>(maxInstances) - 1;
    return ERROR_SUCCESS;
}

// The queue holds one connection more than listen's backlog. It is kept at the
// number of free instances, so that a client finds the pipe busy when none is.
void CNamedPipeServer::SetQueueLength(size_t connected)
{
    size_t free = connected < maxInstances_ ? maxInstances_ - connected : 0;
    const int backlog = static_cast<int>(free > 1 ? free - 1 : 0);
    // Each listen wakes every client waiting to connect: only when it changes.
    if (backlog == backlog_)
        return;
    ::listen(listener_, backlog);
    backlog_ = backlog;
}

CNamedPipeServer::Clock::time_point CNamedPipeServer::DeadlineFromNow() const
{
    if (requestDeadlineMs_ == INFINITE)
        return Clock::time_point::max();
    return Clock::now() + std::chrono::milliseconds(requestDeadlineMs_);
}

std::vector<CNamedPipeServer::Client>::iterator CNamedPipeServer::FindClient(int fd)
{
    return std::find_if(connected_.begin(), connected_.end(), [fd](const Client& c) { return c.fd == fd; });
}

CNamedPipeServer::Clock::time_point CNamedPipeServer::DropSilentClients()
{
    auto nearest = Clock::time_point::max();
    if (requestDeadlineMs_ == INFINITE)
        return nearest;
    const auto now = Clock::now();
    std::vector<int> silent;
    for (const Client& c : connected_) {
        if (c.deadline <= now)
            silent.push_back(c.fd);
        else
            nearest = std::min(nearest, c.deadline);
    }
    for (int fd : silent)
        Disconnect(fd);
    return nearest;
}

DWORD CNamedPipeServer::AcceptOne(int* client)
{
    *client = -1;
    // With clients connected, the queue is shortened before one more is taken
    // from it, so that no client can slip in and exceed the instances. With
    // none connected it stays as it is: the client taken is mostly let go
    // again at once, and two settings of the queue per client would cost two
    // calls and wake every waiting writer each time.
    if (!connected_.empty())
        SetQueueLength(connected_.size() + 1);
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        mayHaveWaiting_ = err != EAGAIN;
        SetQueueLength(connected_.size());
        // A client that gave up before it was taken is no failure of the server.
        return err == EAGAIN || err == ECONNABORTED || err == EINTR ? ERROR_SUCCESS : Win32ErrorFromErrno(err);
    }
    mayHaveWaiting_ = true;
    connected_.push_back({fd, DeadlineFromNow()});
    connectedCount_ = static_cast<DWORD>(connected_.size());
    *client = fd;
    return ERROR_SUCCESS;
}

bool CNamedPipeServer::NextReady(PipeHandle* instance)
{
    while (readyNext_ < ready_.size()) {
        const int fd = ready_[readyNext_++];
        auto client = FindClient(fd);
        if (client != connected_.end()) {
            // Given out with a message (or its end): its time starts again.
            client->deadline = DeadlineFromNow();
            *instance = fd;
            return true;
        }
    }
    ready_.clear();
    readyNext_ = 0;
    return false;
}

DWORD CNamedPipeServer::WaitForMessage(DWORD timeoutMs, PipeHandle* instance)
{
    if (instance != nullptr)
        *instance = INVALID_PIPE_HANDLE;
    if (stopped_)
        return ERROR_OPERATION_ABORTED;
    if (!IsOpen() || instance == nullptr)
        return ERROR_INVALID_HANDLE;
    // One poll serves every client it found ready.
    if (NextReady(instance))
        return ERROR_SUCCESS;
    // With nobody connected the queue is the only place a message can be: a
    // busy pipe is drained from it without a poll per client.
    if (mayHaveWaiting_ && connected_.empty()) {
        int client = -1;
        const DWORD e = AcceptOne(&client);
        if (e != ERROR_SUCCESS)
            return e;
        if (client >= 0) {
            *instance = client;
            return ERROR_SUCCESS;
        }
    }
    // A client left connected (it had nothing to read yet) holds its instance.
    SetQueueLength(connected_.size());
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<pollfd> fds;
    for (;;) {
        const auto silentDeadline = DropSilentClients();
        fds.clear();
        fds.push_back({wake_, POLLIN, 0});
        bool listening = connected_.size() < maxInstances_;
        if (listening)
            fds.push_back({listener_, POLLIN, 0});
        for (const Client& c : connected_)
            fds.push_back({c.fd, POLLIN | POLLRDHUP, 0});
        int wait = -1;
        if (timeoutMs != INFINITE)
            wait = MillisecondsUntil(deadline);
        // The poll also ends when the next silent client is due to go.
        const bool untilSilent = silentDeadline != Clock::time_point::max() &&
                                 (wait < 0 || MillisecondsUntil(silentDeadline) < wait);
        if (untilSilent)
            wait = MillisecondsUntil(silentDeadline);
        int ready = ::poll(fds.data(), fds.size(), wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Win32ErrorFromErrno(errno);
        if (stopped_ || fds[0].revents != 0)
            return ERROR_OPERATION_ABORTED;
        for (size_t i = listening ? 2 : 1; i < fds.size(); ++i)
            if (fds[i].revents != 0)
                ready_.push_back(fds[i].fd);
        if (listening && (fds[1].revents & POLLIN) != 0) {
            int client = -1;
            const DWORD e = AcceptOne(&client);
            // Out of descriptors, say: fail rather than spin on a listener
            // that stays ready; clients found ready are served first.
            if (e != ERROR_SUCCESS && ready_.empty())
                return e;
            if (client >= 0)
                ready_.push_back(client);
        }
        if (NextReady(instance))
            return ERROR_SUCCESS;
        if ((ready == 0 && !untilSilent) || (timeoutMs != INFINITE && Clock::now() >= deadline))
            return WAIT_TIMEOUT;
    }
}

void CNamedPipeServer::Disconnect(PipeHandle instance)
{
    auto it = FindClient(instance);
    if (it == connected_.end())
        return;
    ::close(instance);
    connected_.erase(it);
    connectedCount_ = static_cast<DWORD>(connected_.size());
    if (IsOpen())
        SetQueueLength(connected_.size());
}

void CNamedPipeServer::Stop()
{
    stopped_ = true;
    if (wake_ >= 0) {
        uint64_t one = 1;
        ssize_t n = ::write(wake_, &one, sizeof one);
        (void)n; // a full counter is still signalled
    }
}

void CNamedPipeServer::Close()
{
    ready_.clear();
    readyNext_ = 0;
    mayHaveWaiting_ = false;
    for (const Client& c : connected_)
        ::close(c.fd);
    connected_.clear();
    connectedCount_ = 0;
    if (listener_ >= 0) {
        // The name goes first, so no client connects to a socket about to close.
        ::unlink(socketPath_.c_str());
        ::close(listener_);
        listener_ = -1;
    }
    if (lock_ >= 0) {
        ::unlink(lockPath_.c_str());
        ::close(lock_);
        lock_ = -1;
    }
}
