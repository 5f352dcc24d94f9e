#include "tests/support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

LoopbackHttpServer::LoopbackHttpServer()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0
        || ::pipe(wake_) != 0)
        throw std::runtime_error("loopback HTTP server cannot listen");
    port_ = ntohs(addr.sin_port);
    // A proxy from the environment must not stand between the test and this server.
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    thread_ = std::thread([this] { Run(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    stop_ = true;
    char b = 0;
    [[maybe_unused]] auto n = ::write(wake_[1], &b, 1);
    thread_.join();
    for (int fd : held_)
        ::close(fd);
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::string LoopbackHttpServer::Host() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void LoopbackHttpServer::Serve(const std::string& path, int status, const std::string& body,
                               const std::string& contentType)
{
    std::lock_guard lock(mutex_);
    replies_[path] = {status, body, contentType, false};
}

void LoopbackHttpServer::Stall(const std::string& path)
{
    std::lock_guard lock(mutex_);
    replies_[path] = {0, {}, {}, true};
}

void LoopbackHttpServer::Run()
{
    while (!stop_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            Answer(fd);
    }
}

void LoopbackHttpServer::Answer(int fd)
{
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        request.append(buf, static_cast<size_t>(n));
    }
    ++requests_;
    std::string path;
    if (size_t sp = request.find(' '); sp != std::string::npos)
        path = request.substr(sp + 1, request.find(' ', sp + 1) - sp - 1);
    Reply reply;
    {
        std::lock_guard lock(mutex_);
        if (auto it = replies_.find(path); it != replies_.end())
            reply = it->second;
    }
    if (reply.stall) {
        held_.push_back(fd);
        return;
    }
    std::string text = "HTTP/1.1 " + std::to_string(reply.status) + (reply.status == 200 ? " OK" : " Not Found")
                       + "\r\nContent-Type: " + (reply.contentType.empty() ? "text/plain" : reply.contentType)
                       + "\r\nContent-Length: " + std::to_string(reply.body.size())
                       + "\r\nConnection: close\r\n\r\n" + reply.body;
    size_t sent = 0;
    while (sent < text.size()) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    ::close(fd);
}
