#include "platform/rpc/RpcServer.h"

#include "platform/rpc/RpcAssociation.h"
#include "platform/rpc/RpcIdleWatch.h"
#include "platform/rpc/RpcMemoryTrim.h"
#include "platform/rpc/RpcRequestBudget.h"
#include "platform/rpc/RpcSocket.h"
#include "platform/rpc/RpcThreadPool.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <map>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr size_t kNormalReadBuffer = 64 * 1024;
constexpr size_t kLargeReadBuffer = 256 * 1024;
// Silence after which a connection gives back its buffers and its thread.
constexpr int kQuietMs = 1000;
// Call threads beyond those kept ready end after this long without work: the
// memory of a burst of connections goes back once they are quiet.
constexpr std::chrono::seconds kIdleThreadExit{5};

int Milliseconds(DWORD ms)
{
    return ms == 0 ? CRpcSocket::kWaitForever : int(std::min<DWORD>(ms, INT_MAX));
}

// Numeric text of an address; IPv4 addresses reached through an IPv6
// socket are shown in their IPv4 form.
std::string AddressText(const sockaddr_storage& a, int* port)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (a.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(a);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        *port = ntohs(v4.sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(a);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr))
            ::inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
        else
            ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        *port = ntohs(v6.sin6_port);
    }
    return text;
}

// A listening socket on the address; the status says why there is none.
RPC_STATUS OpenListener(const sockaddr* where, socklen_t length, unsigned backlog, int* fd)
{
    *fd = ::socket(where->sa_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (*fd < 0)
        return RPC_S_CANT_CREATE_ENDPOINT;
    int one = 1;
    ::setsockopt(*fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (where->sa_family == AF_INET6) {
        int off = 0;
        ::setsockopt(*fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    RPC_STATUS status = RPC_S_OK;
    if (::bind(*fd, where, length) != 0)
        status = errno == EADDRINUSE      ? RPC_S_DUPLICATE_ENDPOINT
                 : errno == EADDRNOTAVAIL ? RPC_S_INVALID_NET_ADDR
                 : errno == EACCES        ? RPC_S_ACCESS_DENIED
                                          : RPC_S_CANT_CREATE_ENDPOINT;
    else if (::listen(*fd, int(std::clamp(backlog, 64u, 4096u))) != 0)
        status = RPC_S_CANT_CREATE_ENDPOINT;
    if (status != RPC_S_OK) {
        ::close(*fd);
        *fd = -1;
    }
    return status;
}

// Enough descriptors for a full server: each connection takes one.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

class CRpcServer::Impl {
public:
    struct Endpoint {
        int fd;
        int port;
        std::string address;  // "" for every address
    };
    struct Connection {
        CRpcSocket socket;
        RpcConnectionInfo info;
        std::unique_ptr<CRpcAssociation> association;  // from its first read on
        bool expired = false;  // handed back by the idle watch at its deadline
    };

    Impl() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~Impl();

    RPC_STATUS RegisterEndpoint(int port, unsigned maxCalls, int* boundPort, const std::string& address);
    RPC_STATUS Listen(unsigned minThreads, unsigned maxCalls, bool dontWait);
    RPC_STATUS StopListening();
    RPC_STATUS WaitListen();

    RpcServerLimits limits_;
    CRpcRequestBudget budget_{limits_.maxRequestBytesInFlight, limits_.maxRequestBytesPerPeer};
    std::function<void()> hook_;
    CRpcInterfaceRegistry registry_;
    CRpcCallGate gate_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Endpoint> endpoints_;
    std::set<std::shared_ptr<Connection>> connections_;
    std::map<std::string, size_t> connectionsByPeer_;
    bool listening_ = false;
    bool everListened_ = false;
    bool acceptRunning_ = false;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    int wakeFd_;
    std::unique_ptr<CRpcThreadPool> pool_;
    std::unique_ptr<CRpcIdleWatch> idleWatch_;

private:
    void Wake();
    void AcceptLoop();
    void StartConnection(int fd);
    // Hands the connection to a call thread; closes it when none can start.
    void Dispatch(const std::shared_ptr<Connection>& connection);
    // Leaves a quiet connection to the idle watch until it has input or the
    // deadline passes; false when the watch could not take it.
    bool Park(const std::shared_ptr<Connection>& connection, CRpcIdleWatch::Clock::time_point deadline);
    void Serve(const std::shared_ptr<Connection>& connection);
    // With the mutex held.
    void EndConnection(const std::shared_ptr<Connection>& connection);
    void ForgetPeer(const std::string& peer, size_t ended);
};

CRpcServer::Impl::~Impl()
{
    bool listening;
    {
        std::lock_guard lock(mutex_);
        listening = listening_;
    }
    if (listening)
        StopListening();
    if (everListened_)
        WaitListen();
    idleWatch_.reset();
    pool_.reset();
    for (const Endpoint& e : endpoints_)
        ::close(e.fd);
    ::close(wakeFd_);
}

void CRpcServer::Impl::Wake()
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

RPC_STATUS CRpcServer::Impl::RegisterEndpoint(int port, unsigned maxCalls, int* boundPort, const std::string& address)
{
    if (port < 0 || port > 65535)
        return RPC_S_INVALID_ENDPOINT_FORMAT;
    std::lock_guard lock(mutex_);
    for (const Endpoint& e : endpoints_)
        if (port != 0 && e.port == port)
            return RPC_S_DUPLICATE_ENDPOINT;

    int fd = -1;
    RPC_STATUS status;
    if (address.empty()) {
        // Every local address: one IPv6 socket that takes IPv4 too, or an
        // IPv4 socket where the host has no IPv6.
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_any;
        v6.sin6_port = htons(USHORT(port));
        status = OpenListener(reinterpret_cast<sockaddr*>(&v6), sizeof v6, maxCalls, &fd);
        if (status != RPC_S_OK && status != RPC_S_DUPLICATE_ENDPOINT && status != RPC_S_ACCESS_DENIED) {
            sockaddr_in v4{};
            v4.sin_family = AF_INET;
            v4.sin_addr.s_addr = htonl(INADDR_ANY);
            v4.sin_port = htons(USHORT(port));
            status = OpenListener(reinterpret_cast<sockaddr*>(&v4), sizeof v4, maxCalls, &fd);
        }
    } else {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
        addrinfo* list = nullptr;
        if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || list == nullptr)
            return RPC_S_INVALID_NET_ADDR;
        status = OpenListener(list->ai_addr, socklen_t(list->ai_addrlen), maxCalls, &fd);
        ::freeaddrinfo(list);
    }
    if (status != RPC_S_OK)
        return status;
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    int actual = port;
    AddressText(bound, &actual);
    endpoints_.push_back({fd, actual, address});
    if (boundPort != nullptr)
        *boundPort = actual;
    if (listening_)
        Wake();
    return RPC_S_OK;
}

RPC_STATUS CRpcServer::Impl::Listen(unsigned minThreads, unsigned maxCalls, bool dontWait)
{
    std::thread previous;
    {
        std::lock_guard lock(mutex_);
        if (listening_)
            return RPC_S_ALREADY_LISTENING;
        previous = std::move(acceptThread_);
    }
    // The accept thread of an earlier Listen closes its endpoints as it ends.
    if (previous.joinable())
        previous.join();
    RaiseDescriptorLimit();
    {
        std::lock_guard lock(mutex_);
        if (listening_)
            return RPC_S_ALREADY_LISTENING;
        if (maxCalls == 0)
            return RPC_S_MAX_CALLS_TOO_SMALL;
        if (endpoints_.empty())
            return RPC_S_NO_PROTSEQS_REGISTERED;
        gate_.SetMaxCalls(maxCalls);
        if (!pool_)
            pool_ = std::make_unique<CRpcThreadPool>(hook_, std::max(1u, minThreads), kIdleThreadExit);
        if (!idleWatch_)
            idleWatch_ = std::make_unique<CRpcIdleWatch>();
        listening_ = true;
        everListened_ = true;
        acceptRunning_ = true;
        stopping_ = false;
        uint64_t drained;
        while (::read(wakeFd_, &drained, sizeof drained) > 0) {
        }
        acceptThread_ = std::thread(&Impl::AcceptLoop, this);
    }
    // Threads kept ready run the start hook now rather than on a first call.
    for (unsigned i = 0; i < minThreads; ++i)
        pool_->Submit([] {});
    return dontWait ? RPC_S_OK : WaitListen();
}

RPC_STATUS CRpcServer::Impl::StopListening()
{
    std::lock_guard lock(mutex_);
    if (!listening_)
        return RPC_S_NOT_LISTENING;
    listening_ = false;
    stopping_ = true;
    Wake();
    // Connections waiting for a packet wake up and close; one running a call
    // closes once its reply is sent.
    for (const auto& c : connections_)
        c->socket.ShutdownRead();
    changed_.notify_all();
    return RPC_S_OK;
}

RPC_STATUS CRpcServer::Impl::WaitListen()
{
    std::thread accept;
    {
        std::unique_lock lock(mutex_);
        if (!everListened_)
            return RPC_S_NOT_LISTENING;
        changed_.wait(lock, [&] { return !listening_ && !acceptRunning_ && connections_.empty(); });
        accept = std::move(acceptThread_);
    }
    if (accept.joinable() && accept.get_id() != std::this_thread::get_id())
        accept.join();
    else if (accept.joinable())
        accept.detach();
    return RPC_S_OK;
}

void CRpcServer::Impl::AcceptLoop()
{
    std::vector<pollfd> polls;
    bool starved = false;  // out of descriptors: pause before accepting again
    for (;;) {
        polls.assign(1, pollfd{wakeFd_, POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            if (!listening_)
                break;
            for (const Endpoint& e : endpoints_)
                polls.push_back({e.fd, POLLIN, 0});
        }
        if (starved) {
            ::poll(polls.data(), 1, 50);
            starved = false;
            continue;
        }
        if (::poll(polls.data(), polls.size(), -1) < 0)
            continue;
        if (polls[0].revents != 0) {
            uint64_t drained;
            while (::read(wakeFd_, &drained, sizeof drained) > 0) {
            }
            continue;
        }
        for (size_t i = 1; i < polls.size(); ++i) {
            if (polls[i].revents == 0)
                continue;
            for (;;) {
                int fd = ::accept4(polls[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    StartConnection(fd);
                    continue;
                }
                if (errno == EINTR || errno == ECONNABORTED)
                    continue;
                if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                    starved = true;
                break;
            }
        }
    }
    std::lock_guard lock(mutex_);
    for (const Endpoint& e : endpoints_)
        ::close(e.fd);
    endpoints_.clear();
    acceptRunning_ = false;
    changed_.notify_all();
}

void CRpcServer::Impl::StartConnection(int fd)
{
    auto connection = std::make_shared<Connection>();
    connection->socket.Attach(fd);
    RpcConnectionInfo& info = connection->info;
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        info.localAddress = AddressText(a, &info.localPort);
    length = sizeof a;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        info.clientAddress = AddressText(a, &info.clientPort);
    info.serverBinding = "ncacn_ip_tcp:" + info.localAddress + "[" + std::to_string(info.localPort) + "]";
    {
        std::lock_guard lock(mutex_);
        if (!listening_ || connections_.size() >= limits_.maxConnections ||
            connectionsByPeer_[info.clientAddress] >= limits_.maxConnectionsPerPeer) {
            ForgetPeer(info.clientAddress, 0);
            return;  // the socket closes with the connection object
        }
        connections_.insert(connection);
        gate_.SetConnectionCount(connections_.size());
        ++connectionsByPeer_[info.clientAddress];
    }
    // It takes a call thread once its first packet is there.
    const int bindMs = Milliseconds(limits_.bindTimeoutMs);
    if (!Park(connection, bindMs < 0 ? CRpcIdleWatch::Clock::time_point::max()
                                     : CRpcIdleWatch::Clock::now() + std::chrono::milliseconds(bindMs)))
        Dispatch(connection);
}

void CRpcServer::Impl::Dispatch(const std::shared_ptr<Connection>& connection)
{
    if (!pool_->Submit([this, connection] { Serve(connection); })) {
        std::lock_guard lock(mutex_);
        EndConnection(connection);
    }
}

bool CRpcServer::Impl::Park(const std::shared_ptr<Connection>& connection, CRpcIdleWatch::Clock::time_point deadline)
{
    return idleWatch_->Watch(connection->socket.Fd(), deadline, [this, connection](bool expired) {
        connection->expired = expired;
        Dispatch(connection);
    });
}

void CRpcServer::Impl::ForgetPeer(const std::string& peer, size_t ended)
{
    auto it = connectionsByPeer_.find(peer);
    if (it == connectionsByPeer_.end())
        return;
    it->second -= std::min(ended, it->second);
    if (it->second == 0)
        connectionsByPeer_.erase(it);
}

void CRpcServer::Impl::EndConnection(const std::shared_ptr<Connection>& connection)
{
    connection->socket.Close();
    if (connections_.erase(connection) != 0)
        ForgetPeer(connection->info.clientAddress, 1);
    gate_.SetConnectionCount(connections_.size());
    changed_.notify_all();
}

void CRpcServer::Impl::Serve(const std::shared_ptr<Connection>& connection)
{
    CRpcSocket& socket = connection->socket;
    const int pduMs = Milliseconds(limits_.pduTimeoutMs);
    const int idleMs = Milliseconds(limits_.idleTimeoutMs);
    const int bindMs = Milliseconds(limits_.bindTimeoutMs);
    if (!connection->association)
        connection->association = std::make_unique<CRpcAssociation>(
            registry_, gate_, limits_, connection->info,
            [&socket, pduMs](const iovec* pieces, int count) { return socket.SendAll(pieces, count, pduMs); },
            &budget_);
    CRpcAssociation& association = *connection->association;
    const bool expired = std::exchange(connection->expired, false);
    for (;;) {
        int firstMs = !association.IsBound() ? bindMs : association.HasPendingCalls() ? pduMs : idleMs;
        rpc::PduHeader h;
        rpc::HeaderCheck check;
        std::span<const BYTE> pdu;
        CRpcSocket::Io io = CRpcSocket::Io::TimedOut;
        const bool mayPark = !association.HasPendingCalls() && (firstMs < 0 || firstMs > kQuietMs);
        if (!expired)
            io = socket.ReadPdu(limits_.maxRecvFragment, mayPark ? kQuietMs : firstMs, pduMs, h, check, pdu);
        if (!expired && mayPark && io == CRpcSocket::Io::TimedOut && socket.Buffered() == 0 && !stopping_.load()) {
            association.ReleaseMemory();
            socket.ReleaseReadBuffer();
            const int leftMs = firstMs < 0 ? firstMs : firstMs - kQuietMs;
            auto deadline = leftMs < 0 ? CRpcIdleWatch::Clock::time_point::max()
                                       : CRpcIdleWatch::Clock::now() + std::chrono::milliseconds(leftMs);
            if (Park(connection, deadline)) {
                RpcTrimFreedMemory(false);
                return;
            }
            io = socket.ReadPdu(limits_.maxRecvFragment, leftMs, pduMs, h, check, pdu);
        }
        if (stopping_.load() || (io == CRpcSocket::Io::TimedOut && !association.HasPendingCalls())) {
            if (association.IsBound())
                association.SendShutdown();
            break;
        }
        if (io != CRpcSocket::Io::Ok)
            break;
        if (check != rpc::HeaderCheck::Ok) {
            association.OnBadHeader(h, check);
            break;
        }
        CRpcAssociation::Next next = association.OnPdu(h, pdu);
        socket.ConsumePdu();
        if (next == CRpcAssociation::Next::Close)
            break;
        socket.SetReadBufferSize(association.ReceivingLargeRequest() ? kLargeReadBuffer : kNormalReadBuffer);
    }
    // What the connection held of the request budget goes back as it ends.
    connection->association.reset();
    std::lock_guard lock(mutex_);
    EndConnection(connection);
}

CRpcServer::CRpcServer() : impl_(std::make_unique<Impl>()) {}

CRpcServer::~CRpcServer() = default;

void CRpcServer::SetLimits(const RpcServerLimits& limits)
{
    impl_->limits_ = limits;
    impl_->budget_.SetLimits(limits.maxRequestBytesInFlight, limits.maxRequestBytesPerPeer);
}

void CRpcServer::SetCallThreadStartHook(std::function<void()> hook)
{
    impl_->hook_ = std::move(hook);
}

void CRpcServer::SetExceptionFilter(CRpcCallGate::ExceptionFilter filter)
{
    impl_->gate_.SetExceptionFilter(std::move(filter));
}

RPC_STATUS CRpcServer::RegisterEndpoint(int port, unsigned maxCalls, int* boundPort, const std::string& address)
{
    return impl_->RegisterEndpoint(port, maxCalls, boundPort, address);
}

RPC_STATUS CRpcServer::RegisterInterface(const RpcInterfaceDefinition& definition)
{
    return impl_->registry_.Register(definition);
}

RPC_STATUS CRpcServer::UnregisterInterface(const GUID& uuid, USHORT major, USHORT minor, bool waitForCalls)
{
    return impl_->registry_.Unregister(uuid, major, minor, waitForCalls);
}

RPC_STATUS CRpcServer::Listen(unsigned minThreads, unsigned maxCalls, bool dontWait)
{
    return impl_->Listen(minThreads, maxCalls, dontWait);
}

RPC_STATUS CRpcServer::StopListening()
{
    return impl_->StopListening();
}

RPC_STATUS CRpcServer::WaitListen()
{
    return impl_->WaitListen();
}

RPC_STATUS CRpcServer::InquireBindings(std::vector<std::string>& bindings) const
{
    bindings.clear();
    char host[256] = "localhost";
    ::gethostname(host, sizeof host - 1);
    std::lock_guard lock(impl_->mutex_);
    for (const Impl::Endpoint& e : impl_->endpoints_)
        bindings.push_back("ncacn_ip_tcp:" + (e.address.empty() ? std::string(host) : e.address) + "[" +
                           std::to_string(e.port) + "]");
    return bindings.empty() ? RPC_S_NO_BINDINGS : RPC_S_OK;
}

bool CRpcServer::IsListening() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->listening_;
}

unsigned CRpcServer::ActiveCalls() const
{
    return impl_->gate_.ActiveCalls();
}

size_t CRpcServer::ConnectionCount() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->connections_.size();
}

size_t CRpcServer::QuietConnectionCount() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->idleWatch_ ? impl_->idleWatch_->Count() : 0;
}
