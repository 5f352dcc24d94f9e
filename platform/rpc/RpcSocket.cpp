#include "platform/rpc/RpcSocket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

constexpr size_t kLargestFragment = 0xFFFF;
// Read ahead of a fragment body taken straight into the caller's memory:
// enough for the header of a request or response.
constexpr size_t kReadAhead = 24;

// Reads that wait do so inside recv (a receive timeout, see ReceiveFirst);
// every other read and every send says MSG_DONTWAIT itself.
void MakeBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

void SetNoDelay(int fd)
{
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The addresses of host, looked up within the deadline: a name server that
// does not answer must not hold a connect up for longer than its timeout.
// A lookup still running at the deadline finishes on its own thread.
addrinfo* Resolve(const std::string& host, int port, std::chrono::steady_clock::time_point deadline)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
    std::string service = std::to_string(port);
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) == 0)
        return list;

    struct Lookup {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        addrinfo* list = nullptr;
    };
    auto lookup = std::make_shared<Lookup>();
    hints.ai_flags = AI_NUMERICSERV;
    try {
        std::thread([lookup, host, service, hints] {
            addrinfo* found = nullptr;
            if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0)
                found = nullptr;
            std::lock_guard lock(lookup->mutex);
            if (lookup->abandoned) {
                if (found != nullptr)
                    ::freeaddrinfo(found);
            } else {
                lookup->list = found;
            }
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
        lookup->abandoned = true;
        return nullptr;
    }
    return lookup->list;
}

// Binds the socket to a numeric local address of its family (any port).
bool BindSource(int fd, int family, const std::string& source)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    addrinfo* list = nullptr;
    if (::getaddrinfo(source.c_str(), nullptr, &hints, &list) != 0 || list == nullptr)
        return false;
    bool bound = ::bind(fd, list->ai_addr, list->ai_addrlen) == 0;
    ::freeaddrinfo(list);
    return bound;
}

// Receives and sends made directly: the libc wrappers are cancellation
// points, and their bookkeeping costs more than the rest of a call's framing.
// No thread of this runtime is ever cancelled. ThreadSanitizer learns from
// the wrappers that what one side sent was written before the other read
// it, so its builds keep them.
#if defined(__SANITIZE_THREAD__)
ssize_t Receive(int fd, void* data, size_t size, int flags)
{
    return ::recv(fd, data, size, flags);
}

ssize_t ReceiveMessage(int fd, msghdr* msg, int flags)
{
    return ::recvmsg(fd, msg, flags);
}

ssize_t SendMessage(int fd, const msghdr* msg, int flags)
{
    return ::sendmsg(fd, msg, flags);
}
#else
ssize_t Receive(int fd, void* data, size_t size, int flags)
{
    return ::syscall(SYS_recvfrom, fd, data, size, flags, nullptr, nullptr);
}

ssize_t ReceiveMessage(int fd, msghdr* msg, int flags)
{
    return ::syscall(SYS_recvmsg, fd, msg, flags);
}

ssize_t SendMessage(int fd, const msghdr* msg, int flags)
{
    return ::syscall(SYS_sendmsg, fd, msg, flags);
}
#endif

// The start of a wait, needed only when the wait is interrupted: the coarse
// clock runs on the same origin as the steady one, at most a tick behind,
// and costs a fraction of a precise read.
std::chrono::steady_clock::time_point CoarseNow()
{
    timespec now{};
    if (::clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0)
        return std::chrono::steady_clock::now();
    return std::chrono::steady_clock::time_point(std::chrono::seconds(now.tv_sec) +
                                                 std::chrono::nanoseconds(now.tv_nsec));
}

} // namespace

CRpcSocket::CRpcSocket(int fd)
{
    Attach(fd);
}

CRpcSocket::~CRpcSocket()
{
    Close();
    std::free(buffer_);
}

void CRpcSocket::Attach(int fd)
{
    Close();
    fd_ = fd;
    MakeBlocking(fd_);
    SetNoDelay(fd_);
    receiveTimeoutMs_ = kWaitForever;  // a fresh socket's
}

void CRpcSocket::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    begin_ = end_ = current_ = 0;
    fragment_ = prefix_ = 0;
}

void CRpcSocket::ShutdownRead()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RD);
}

void CRpcSocket::SetReadBufferSize(size_t bytes)
{
    wanted_ = std::max(bytes, rpc::kCommonHeaderSize);
    if (buffer_ != nullptr && wanted_ != capacity_ && wanted_ >= end_ - begin_)
        Reallocate(wanted_);
}

void CRpcSocket::ReleaseReadBuffer()
{
    if (end_ != begin_ || current_ != 0)
        return;
    std::free(buffer_);
    buffer_ = nullptr;
    capacity_ = begin_ = end_ = 0;
}

bool CRpcSocket::Reallocate(size_t bytes)
{
    const size_t held = end_ - begin_;
    BYTE* fresh = static_cast<BYTE*>(std::malloc(bytes));
    if (fresh == nullptr)
        return false;  // the old buffer stays as it was
    if (held != 0)
        std::memcpy(fresh, buffer_ + begin_, held);
    std::free(buffer_);
    buffer_ = fresh;
    capacity_ = bytes;
    begin_ = 0;
    end_ = held;
    return true;
}

bool CRpcSocket::SetReceiveTimeout(int ms)
{
    if (ms == receiveTimeoutMs_)
        return true;
    timeval tv{};
    if (ms > 0) {
        tv.tv_sec = ms / 1000;
        tv.tv_usec = (ms % 1000) * 1000;
    }
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
        return false;
    receiveTimeoutMs_ = ms;
    return true;
}

RPC_STATUS CRpcSocket::Connect(const std::string& host, int port, int timeoutMs, const std::string& source)
{
    Close();
    if (port <= 0 || port > 65535)
        return RPC_S_INVALID_ENDPOINT_FORMAT;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    addrinfo* list = Resolve(host.empty() ? "127.0.0.1" : host, port, deadline);
    if (list == nullptr)
        return RPC_S_SERVER_UNAVAILABLE;
    RPC_STATUS status = RPC_S_SERVER_UNAVAILABLE;
    for (addrinfo* a = list; a != nullptr && status != RPC_S_OK; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        if (!source.empty() && !BindSource(fd, a->ai_family, source)) {
            ::close(fd);
            continue;
        }
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS) {
            fd_ = fd;
            if (WaitFor(POLLOUT, deadline)) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
                connected = error == 0;
            }
            fd_ = -1;
        }
        if (connected) {
            Attach(fd);
            status = RPC_S_OK;
        } else {
            ::close(fd);
        }
        if (Clock::now() >= deadline)
            break;
    }
    ::freeaddrinfo(list);
    return status;
}

bool CRpcSocket::WaitFor(short events, Clock::time_point deadline)
{
    for (;;) {
        int wait = -1;
        if (deadline != Clock::time_point::max()) {
            // Past the deadline, still look once without waiting.
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : int(left);
        }
        pollfd p{fd_, events, 0};
        int n = ::poll(&p, 1, wait);
        if (n > 0)
            return true;  // ready, or an error the next call reports
        if (n == 0 || errno != EINTR)
            return false;
    }
}

CRpcSocket::Io CRpcSocket::Fill(size_t need, Clock::time_point deadline)
{
    while (end_ - begin_ < need) {
        if (capacity_ < need) {
            if (!Reallocate(std::max(need, wanted_)))
                return Io::Failed;
        } else if (capacity_ - begin_ < need) {
            std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        // With nothing buffered the data is most likely not there yet: wait
        // first rather than try a read that fails.
        if (end_ == begin_ && !WaitFor(POLLIN, deadline))
            return Io::TimedOut;
        ssize_t n = Receive(fd_, buffer_ + end_, capacity_ - end_, MSG_DONTWAIT);
        if (n > 0) {
            end_ += size_t(n);
        } else if (n == 0) {
            return Io::Closed;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (end_ != begin_ && !WaitFor(POLLIN, deadline))
                return Io::TimedOut;
        } else if (errno != EINTR) {
            return errno == ECONNRESET ? Io::Closed : Io::Failed;
        }
    }
    return Io::Ok;
}

CRpcSocket::Io CRpcSocket::ReadPdu(size_t maxFragment, int firstMs, int restMs, rpc::PduHeader& h,
                                   rpc::HeaderCheck& check, std::span<const BYTE>& pdu)
{
    // ReadPduStart and ReadPduRest in one, as every packet the server reads
    // takes this way.
    fragment_ = prefix_ = 0;
    if (fd_ < 0)
        return Io::Closed;
    Io io = end_ != begin_ ? Io::Ok : ReceiveFirst(firstMs, SIZE_MAX);
    if (io != Io::Ok)
        return io;
    timed_ = false;
    restMs_ = restMs;
    if (end_ - begin_ < rpc::kCommonHeaderSize && (io = Fill(rpc::kCommonHeaderSize, RestDeadline())) != Io::Ok)
        return io;
    h = rpc::DecodeHeader(buffer_ + begin_);
    check = rpc::CheckHeader(h, std::min(maxFragment, kLargestFragment));
    pdu = {};
    if (check != rpc::HeaderCheck::Ok)
        return Io::Ok;
    if (end_ - begin_ < h.fragLength && (io = Fill(h.fragLength, RestDeadline())) != Io::Ok)
        return io;
    pdu = {buffer_ + begin_, h.fragLength};
    current_ = h.fragLength;
    return Io::Ok;
}

CRpcSocket::Clock::time_point CRpcSocket::RestDeadline()
{
    // The clock is read only when something is still missing: a fragment
    // that came in one piece, as nearly every call's does, needs no deadline.
    if (!timed_)
        deadline_ = restMs_ < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(restMs_);
    timed_ = true;
    return deadline_;
}

CRpcSocket::Io CRpcSocket::ReadPduStart(size_t maxFragment, size_t prefix, int firstMs, int restMs,
                                        rpc::PduHeader& h, rpc::HeaderCheck& check, std::span<const BYTE>& start,
                                        bool readAhead)
{
    start = {};
    fragment_ = prefix_ = 0;
    if (fd_ < 0)
        return Io::Closed;
    prefix = std::max(prefix, rpc::kCommonHeaderSize);
    Io io = end_ != begin_ ? Io::Ok : ReceiveFirst(firstMs, readAhead ? SIZE_MAX : prefix);
    if (io != Io::Ok)
        return io;
    timed_ = false;
    restMs_ = restMs;
    if (end_ - begin_ < rpc::kCommonHeaderSize && (io = Fill(rpc::kCommonHeaderSize, RestDeadline())) != Io::Ok)
        return io;
    h = rpc::DecodeHeader(buffer_ + begin_);
    check = rpc::CheckHeader(h, std::min(maxFragment, kLargestFragment));
    if (check != rpc::HeaderCheck::Ok)
        return Io::Ok;
    const size_t need = std::min<size_t>(prefix, h.fragLength);
    if (end_ - begin_ < need && (io = Fill(need, RestDeadline())) != Io::Ok)
        return io;
    fragment_ = h.fragLength;
    prefix_ = need;
    start = {buffer_ + begin_, need};
    return Io::Ok;
}

CRpcSocket::Io CRpcSocket::ReadPduRest(std::span<const BYTE>& pdu)
{
    pdu = {};
    Io io;
    if (end_ - begin_ < fragment_ && (io = Fill(fragment_, RestDeadline())) != Io::Ok)
        return io;
    pdu = {buffer_ + begin_, fragment_};
    current_ = fragment_;
    return Io::Ok;
}

CRpcSocket::Io CRpcSocket::ReadPduBody(BYTE* out)
{
    size_t want = fragment_ - prefix_;
    const size_t held = std::min(end_ - begin_ - prefix_, want);
    if (held != 0)
        std::memcpy(out, buffer_ + begin_ + prefix_, held);
    begin_ += prefix_ + held;
    if (begin_ == end_)
        begin_ = end_ = 0;
    fragment_ = prefix_ = 0;
    out += held;
    want -= held;
    // Whatever was read ahead is used up: the rest goes straight to out, and
    // the buffer takes only what may start the next fragment, so that the
    // body of a large one is not read into the buffer and copied again.
    const size_t ahead = std::min(capacity_, kReadAhead);
    while (want > 0) {
        iovec pieces[2] = {{out, want}, {buffer_, ahead}};
        msghdr msg{};
        msg.msg_iov = pieces;
        msg.msg_iovlen = 2;
        ssize_t n = ReceiveMessage(fd_, &msg, MSG_DONTWAIT);
        if (n > 0) {
            const size_t got = size_t(n);
            if (got >= want) {
                end_ = got - want;
                want = 0;
            } else {
                out += got;
                want -= got;
            }
        } else if (n == 0) {
            return Io::Closed;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(POLLIN, RestDeadline()))
                return Io::TimedOut;
        } else if (errno != EINTR) {
            return errno == ECONNRESET ? Io::Closed : Io::Failed;
        }
    }
    return Io::Ok;
}

CRpcSocket::Io CRpcSocket::ReceiveFirst(int waitMs, size_t limit)
{
    // The wait is the receive call's own (a receive timeout on a blocking
    // socket): a request on its way costs one system call, not a poll and a
    // read.
    const Clock::time_point started = CoarseNow();
    if (capacity_ == 0 && !Reallocate(wanted_))
        return Io::Failed;
    begin_ = end_ = 0;
    const bool timed = waitMs != 0 && SetReceiveTimeout(waitMs);
    if (waitMs == 0 || timed) {
        ssize_t n = Receive(fd_, buffer_, std::min(capacity_, limit), waitMs == 0 ? MSG_DONTWAIT : 0);
        if (n > 0) {
            end_ = size_t(n);
            return Io::Ok;
        }
        if (n == 0)
            return Io::Closed;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Io::TimedOut;
        if (errno != EINTR)
            return errno == ECONNRESET ? Io::Closed : Io::Failed;
    }
    // Interrupted by a signal, or no timeout could be set: the rest of the
    // wait is a poll's.
    return Fill(1, waitMs < 0 ? Clock::time_point::max() : started + std::chrono::milliseconds(waitMs));
}

bool CRpcSocket::HasInput()
{
    if (end_ != begin_)
        return true;
    BYTE probe;
    ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

void CRpcSocket::ConsumePdu()
{
    begin_ += current_;
    current_ = 0;
    if (begin_ == end_)
        begin_ = end_ = 0;
}

bool CRpcSocket::SendAll(const iovec* pieces, int count, int timeoutMs)
{
    if (fd_ < 0)
        return false;
    if (count > 0 && count <= IOV_MAX) {
        // Nearly always the kernel takes everything at once: try that before
        // copying the pieces to advance through a partial send.
        msghdr msg{};
        msg.msg_iov = const_cast<iovec*>(pieces);
        msg.msg_iovlen = size_t(count);
        ssize_t n = SendMessage(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        size_t sent = n < 0 ? 0 : size_t(n);
        while (count > 0 && sent >= pieces->iov_len) {
            sent -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count == 0)
            return true;
        if (sent != 0)
            return SendRest(pieces, count, sent, timeoutMs);
    }
    return SendRest(pieces, count, 0, timeoutMs);
}

[[gnu::noinline]] bool CRpcSocket::SendRest(const iovec* pieces, int count, size_t skip, int timeoutMs)
{
    // A local copy to advance through partial sends.
    constexpr int kMaxPieces = 1024;
    iovec local[kMaxPieces];
    while (count > 0) {
        int batch = std::min(count, kMaxPieces);
        std::memcpy(local, pieces, sizeof(iovec) * size_t(batch));
        iovec* at = local;
        int left = batch;
        // What the first try sent of the first piece.
        at->iov_base = static_cast<BYTE*>(at->iov_base) + skip;
        at->iov_len -= skip;
        skip = 0;
        while (left > 0) {
            msghdr msg{};
            msg.msg_iov = at;
            msg.msg_iovlen = size_t(left);
            ssize_t n = SendMessage(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    return false;
                Clock::time_point deadline =
                    timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
                if (!WaitFor(POLLOUT, deadline))
                    return false;
                continue;
            }
            size_t sent = size_t(n);
            while (left > 0 && sent >= at->iov_len) {
                sent -= at->iov_len;
                ++at;
                --left;
            }
            if (left > 0) {
                at->iov_base = static_cast<BYTE*>(at->iov_base) + sent;
                at->iov_len -= sent;
            }
        }
        pieces += batch;
        count -= batch;
    }
    return true;
}

bool CRpcSocket::SendAll(const void* data, size_t size, int timeoutMs)
{
    iovec piece{const_cast<void*>(data), size};
    return SendAll(&piece, 1, timeoutMs);
}
