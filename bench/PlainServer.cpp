#include "bench/PlainServer.h"

#include "bench/PlainFrameReader.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace tqbench {

namespace {

bool SendAll(int fd, iovec* pieces, int count)
{
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = pieces;
        msg.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        auto sent = static_cast<size_t>(n);
        while (count > 0 && sent >= pieces->iov_len) {
            sent -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + sent;
            pieces->iov_len -= sent;
        }
    }
    return true;
}

} // namespace

PlainServer::~PlainServer()
{
    Stop();
}

bool PlainServer::Start()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 4096) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void PlainServer::Stop()
{
    if (listener_ < 0)
        return;
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (acceptThread_.joinable())
        acceptThread_.join();
    ::close(listener_);
    listener_ = -1;
    std::list<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (int fd : connections_)
            ::shutdown(fd, SHUT_RDWR);
        threads.swap(threads_);
    }
    for (auto& t : threads)
        t.join();
}

void PlainServer::AcceptLoop()
{
    while (!stopping_) {
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE) {
                ::usleep(10000);
                continue;
            }
            break;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        connections_.push_back(fd);
        threads_.emplace_back([this, fd] { Serve(fd); });
    }
}

void PlainServer::Serve(int fd)
{
    PlainFrameReader reader(fd);
    std::vector<unsigned char> payload;
    for (;;) {
        PlainFrame::Header request;
        const unsigned char* frame = nullptr;
        if (reader.Next(&request, &frame) != PlainFrameReader::Result::Ok || request.replyLength == 0)
            break;
        unsigned char head[PlainFrame::kHeaderSize];
        PlainFrame::EncodeHeader(head, {request.replyLength, 0});
        const size_t body = request.replyLength - PlainFrame::kHeaderSize;
        if (payload.size() < body)
            payload.resize(body);
        iovec pieces[2] = {{head, sizeof head}, {payload.data(), body}};
        if (!SendAll(fd, pieces, body == 0 ? 1 : 2))
            break;
    }
    std::lock_guard lock(mutex_);
    connections_.remove(fd);
    ::close(fd);
}

pid_t PlainServer::StartProcess(int* port, int* lifeline)
{
    int portPipe[2], lifePipe[2];
    if (::pipe2(portPipe, O_CLOEXEC) != 0)
        return -1;
    if (::pipe2(lifePipe, O_CLOEXEC) != 0) {
        ::close(portPipe[0]);
        ::close(portPipe[1]);
        return -1;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(portPipe[0]);
        ::close(lifePipe[1]);
        int bound = 0;
        {
            PlainServer server;
            if (server.Start())
                bound = server.Port();
            [[maybe_unused]] ssize_t n = ::write(portPipe[1], &bound, sizeof bound);
            ::close(portPipe[1]);
            char c;
            while (bound != 0 && ::read(lifePipe[0], &c, 1) < 0 && errno == EINTR) {
            }
            // The threads are left to the end of the process.
            ::_exit(0);
        }
    }
    ::close(portPipe[1]);
    ::close(lifePipe[0]);
    int bound = 0;
    if (pid < 0 || ::read(portPipe[0], &bound, sizeof bound) != sizeof bound || bound == 0) {
        ::close(portPipe[0]);
        ::close(lifePipe[1]);
        if (pid > 0)
            ::waitpid(pid, nullptr, 0);
        return -1;
    }
    ::close(portPipe[0]);
    *port = bound;
    *lifeline = lifePipe[1];
    return pid;
}

} // namespace tqbench
