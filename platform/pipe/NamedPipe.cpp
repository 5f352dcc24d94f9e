#include "platform/pipe/NamedPipe.h"

#include "platform/pipe/PipeAddress.h"
#include "platform/win/LastError.h"
#include "platform/win/StateRoot.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The connection PipeWait made, kept for the next PipeOpen of its name.
struct WaitSlot {
    std::string path;
    int fd = -1;
    void Drop()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        path.clear();
    }
    ~WaitSlot() { Drop(); }
};

thread_local WaitSlot t_waitSlot;

// How long a waiting connect sleeps at most before it looks at the queue again.
constexpr DWORD kRecheckMs = 50;

DWORD Fail(DWORD error)
{
    SetLastError(error);
    return error;
}

DWORD ConnectError(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED: // a socket file that nobody listens on any more
    case ENOTSOCK:
    case EPROTOTYPE: return ERROR_FILE_NOT_FOUND;
    case EAGAIN: return ERROR_PIPE_BUSY;
    default: return Win32ErrorFromErrno(err);
    }
}

DWORD IoError(int err, bool writing)
{
    switch (err) {
    case EPIPE:
    case ECONNRESET: return writing ? ERROR_NO_DATA : ERROR_BROKEN_PIPE;
    case EAGAIN: return ERROR_NO_DATA;
    case EBADF:
    case ENOTSOCK: return ERROR_INVALID_HANDLE;
    case ENOTCONN: return ERROR_PIPE_NOT_CONNECTED;
    case EMSGSIZE: return ERROR_INVALID_PARAMETER;
    default: return Win32ErrorFromErrno(err);
    }
}

timeval Timeval(DWORD ms)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return tv;
}

// Connects to a socket path. wait false: one attempt that does not block;
// otherwise up to timeoutMs (INFINITE: no limit). The connection is blocking.
int Connect(const std::string& path, bool wait, DWORD timeoutMs, DWORD* error)
{
    CPipeAddress address(path);
    if (address.Error() != ERROR_SUCCESS) {
        *error = address.Error() == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : address.Error();
        return -1;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
        if (fd < 0) {
            *error = Win32ErrorFromErrno(errno);
            return -1;
        }
        if (wait) {
            DWORD left = kRecheckMs;
            if (timeoutMs != INFINITE) {
                auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                left = rest.count() > 0 ? std::min(static_cast<DWORD>(rest.count()), kRecheckMs) : 1;
            }
            // A send time-out bounds how long connect waits for room in the queue.
            timeval tv = Timeval(left);
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        }
        if (::connect(fd, address.Get(), address.Size()) == 0) {
            if (wait) {
                timeval none{};
                ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
            } else {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            }
            return fd;
        }
        int err = errno;
        ::close(fd);
        const bool timeLeft = timeoutMs == INFINITE || std::chrono::steady_clock::now() < deadline;
        if (err == EINTR && (!wait || timeLeft))
            continue;
        // Room in the queue wakes one waiting connect, and that wake can be
        // spent on a writer that stopped waiting or lost the room to another:
        // the waiter looks again now and then instead of sleeping out its time.
        if (err == EAGAIN && wait && timeLeft)
            continue;
        *error = ConnectError(err == EINTR ? EAGAIN : err);
        return -1;
    }
}

bool IsPipePrefix(const std::string& name, size_t& rest)
{
    static const char prefix[] = "\\\\.\\pipe\\";
    const size_t n = sizeof prefix - 1;
    if (name.size() <= n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        if (c != prefix[i])
            return false;
    }
    rest = n;
    return true;
}

} // namespace

std::string PipeSocketPath(const std::string& pipeName)
{
    size_t start = 0;
    if (!IsPipePrefix(pipeName, start))
        return {};
    std::string file;
    for (size_t i = start; i < pipeName.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(pipeName[i]);
        if (c == '/' || c == '%' || c < 0x20 || c == 0x7F || (c == '.' && i == start)) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            file += hex;
        } else {
            file += static_cast<char>(c);
        }
    }
    return StateRoot() + "/run/pipe/" + file;
}

DWORD PipeOpen(const std::string& pipeName, PipeHandle* handle)
{
    if (handle == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    *handle = INVALID_PIPE_HANDLE;
    std::string path = PipeSocketPath(pipeName);
    if (path.empty())
        return Fail(ERROR_INVALID_NAME);
    if (t_waitSlot.fd >= 0 && t_waitSlot.path == path) {
        *handle = t_waitSlot.fd;
        t_waitSlot.fd = -1;
        t_waitSlot.Drop();
        return ERROR_SUCCESS;
    }
    // No socket file means nobody serves the pipe. Asking the file system is
    // far cheaper than a socket that fails to connect, and writers that try
    // once for every record mostly find nobody there.
    if (::access(path.c_str(), F_OK) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return Fail(ERROR_FILE_NOT_FOUND);
    DWORD error = ERROR_SUCCESS;
    int fd = Connect(path, false, 0, &error);
    if (fd < 0)
        return Fail(error);
    *handle = fd;
    return ERROR_SUCCESS;
}

bool PipeWait(const std::string& pipeName, DWORD timeoutMs)
{
    t_waitSlot.Drop();
    std::string path = PipeSocketPath(pipeName);
    if (path.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    int fd = Connect(path, timeoutMs != 0, timeoutMs, &error);
    if (fd < 0) {
        SetLastError(error == ERROR_PIPE_BUSY ? ERROR_SEM_TIMEOUT : error);
        return false;
    }
    t_waitSlot.path = path;
    t_waitSlot.fd = fd;
    return true;
}

DWORD PipeSetMessageMode(PipeHandle handle)
{
    int type = 0;
    socklen_t length = sizeof type;
    if (handle < 0 || ::getsockopt(handle, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET)
        return Fail(ERROR_INVALID_HANDLE);
    return ERROR_SUCCESS;
}

DWORD PipeWrite(PipeHandle handle, const void* data, DWORD size, DWORD* written)
{
    if (written != nullptr)
        *written = 0;
    if (data == nullptr && size > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    for (;;) {
        ssize_t n = ::send(handle, data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            if (written != nullptr)
                *written = static_cast<DWORD>(n);
            return ERROR_SUCCESS;
        }
        if (errno != EINTR)
            return Fail(IoError(errno, true));
    }
}

DWORD PipeRead(PipeHandle handle, void* buffer, DWORD size, DWORD* read)
{
    if (read != nullptr)
        *read = 0;
    if (buffer == nullptr && size > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    iovec part{buffer, size};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    for (;;) {
        ssize_t n = ::recvmsg(handle, &message, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(IoError(errno, false));
        if (read != nullptr)
            *read = static_cast<DWORD>(n);
        if ((message.msg_flags & MSG_TRUNC) != 0)
            return Fail(ERROR_MORE_DATA);
        if (n == 0)
            return Fail(ERROR_BROKEN_PIPE);
        return ERROR_SUCCESS;
    }
}

void PipeClose(PipeHandle handle)
{
    if (handle >= 0)
        ::close(handle);
}
