#include "platform/scm/ServiceChannel.h"

#include "platform/win/Process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tq::scm {

namespace {

// Waits until fd is readable; false on time-out (errno ETIMEDOUT) or error.
bool WaitReadable(int fd, unsigned long long deadline)
{
    while (true) {
        unsigned long long now = GetTickCount64();
        if (now >= deadline) {
            errno = ETIMEDOUT;
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(deadline - now));
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

// Fills a socket address for path; a long path goes through an O_PATH
// descriptor of its folder, which *folderFd receives (close it afterwards).
bool MakeAddress(const std::string& path, sockaddr_un* addr, int* folderFd)
{
    *folderFd = -1;
    std::memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    std::string target = path;
    if (target.size() >= sizeof addr->sun_path) {
        auto slash = path.rfind('/');
        if (slash == std::string::npos) {
            errno = ENAMETOOLONG;
            return false;
        }
        *folderFd = ::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (*folderFd < 0)
            return false;
        target = "/proc/self/fd/" + std::to_string(*folderFd) + path.substr(slash);
        if (target.size() >= sizeof addr->sun_path) {
            ::close(*folderFd);
            *folderFd = -1;
            errno = ENAMETOOLONG;
            return false;
        }
    }
    std::memcpy(addr->sun_path, target.c_str(), target.size() + 1);
    return true;
}

void CloseKeepingErrno(int fd)
{
    if (fd < 0)
        return;
    int err = errno;
    ::close(fd);
    errno = err;
}

} // namespace

IoResult ReadExact(int fd, void* data, size_t size, unsigned long long deadline)
{
    auto* p = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        if (!WaitReadable(fd, deadline))
            return errno == ETIMEDOUT ? IoResult::TimedOut : IoResult::Failed;
        ssize_t n = ::read(fd, p + done, size - done);
        if (n == 0)
            return IoResult::Closed;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        }
        done += static_cast<size_t>(n);
    }
    return IoResult::Ok;
}

bool WriteExact(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::send(fd, p + done, size - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

namespace {

// A fresh stream socket and the address of path for it.
int SocketFor(const std::string& path, sockaddr_un* addr, int* folderFd)
{
    if (!MakeAddress(path, addr, folderFd))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        CloseKeepingErrno(*folderFd);
        *folderFd = -1;
    }
    return fd;
}

} // namespace

int ListenAt(const std::string& path)
{
    sockaddr_un addr{};
    int folderFd = -1;
    int fd = SocketFor(path, &addr, &folderFd);
    if (fd < 0)
        return -1;
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        CloseKeepingErrno(fd);
        CloseKeepingErrno(folderFd);
        return -1;
    }
    CloseKeepingErrno(folderFd);
    return fd;
}

int ConnectTo(const std::string& path)
{
    sockaddr_un addr{};
    int folderFd = -1;
    int fd = SocketFor(path, &addr, &folderFd);
    if (fd < 0)
        return -1;
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (r != 0 && errno == EINTR);
    CloseKeepingErrno(folderFd);
    if (r != 0) {
        CloseKeepingErrno(fd);
        return -1;
    }
    return fd;
}

bool SendLaunchMessage(int channel, LaunchTag tag, std::int32_t value, int fdToPass)
{
    LaunchMessage m{tag, value};
    iovec iov{&m, sizeof m};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    if (fdToPass >= 0) {
        std::memset(control, 0, sizeof control);
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fdToPass, sizeof(int));
    }
    ssize_t n;
    do {
        n = ::sendmsg(channel, &msg, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof m);
}

IoResult ReceiveLaunchMessage(int channel, LaunchMessage* message, int* passedFd, unsigned long long deadline)
{
    *passedFd = -1;
    if (!WaitReadable(channel, deadline))
        return errno == ETIMEDOUT ? IoResult::TimedOut : IoResult::Failed;
    iovec iov{message, sizeof *message};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(channel, &msg, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); n >= 0 && c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(passedFd, CMSG_DATA(c), sizeof(int));
    }
    if (n == 0)
        return IoResult::Closed;
    if (n < 0)
        return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
    if (n != static_cast<ssize_t>(sizeof *message)) {
        if (*passedFd >= 0)
            ::close(*passedFd);
        *passedFd = -1;
        return IoResult::Failed;
    }
    return IoResult::Ok;
}

} // namespace tq::scm
