// The socket's read buffer: fragments larger than it, memory given back by a
// quiet connection, and waits that end in the receive call itself.

#include "PduBuilder.h"

#include "platform/rpc/RpcSocket.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace rpctest;

namespace {

// A connected pair: the socket under test and the raw peer end.
struct SocketPair {
    SocketPair()
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        socket.Attach(fds[0]);
        peer = fds[1];
    }
    ~SocketPair() { ::close(peer); }
    void Send(const Bytes& b) { ASSERT_EQ(::send(peer, b.data(), b.size(), 0), ssize_t(b.size())); }

    CRpcSocket socket;
    int peer = -1;
};

struct Read {
    CRpcSocket::Io io;
    rpc::PduHeader h;
    rpc::HeaderCheck check;
    std::span<const BYTE> pdu;
};

Read ReadOne(CRpcSocket& s, int firstMs = 2000)
{
    Read r{};
    r.io = s.ReadPdu(0xFFFF, firstMs, 2000, r.h, r.check, r.pdu);
    return r;
}

} // namespace

TEST(RpcSocketBuffer, GrowsForALargerFragmentAndIsGivenBackWhenNothingIsBuffered)
{
    SocketPair p;
    p.socket.SetReadBufferSize(256);
    const Bytes big = RequestBytes(7, 0, 1, Bytes(3000, 0x5A));
    p.Send(big);
    Read r = ReadOne(p.socket);
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    ASSERT_EQ(r.check, rpc::HeaderCheck::Ok);
    EXPECT_EQ(r.h.callId, 7u);
    EXPECT_EQ(r.pdu.size(), big.size());
    EXPECT_GE(p.socket.ReadBufferSize(), big.size());
    p.socket.ConsumePdu();

    p.socket.ReleaseReadBuffer();
    EXPECT_EQ(p.socket.ReadBufferSize(), 0u);
    // The next read takes the size asked for again.
    p.Send(RequestBytes(8, 0, 1, Bytes(16, 1)));
    r = ReadOne(p.socket);
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    EXPECT_EQ(r.h.callId, 8u);
    EXPECT_EQ(p.socket.ReadBufferSize(), 256u);
}

TEST(RpcSocketBuffer, KeepsItsMemoryWhileBytesAreBufferedOrAFragmentIsHandedOut)
{
    SocketPair p;
    Bytes two = RequestBytes(1, 0, 1, Bytes(40, 1));
    const Bytes second = RequestBytes(2, 0, 1, Bytes(40, 2));
    two.insert(two.end(), second.begin(), second.end());
    p.Send(two);
    Read r = ReadOne(p.socket);
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    const size_t size = p.socket.ReadBufferSize();
    p.socket.ReleaseReadBuffer();  // the fragment is still in use
    EXPECT_EQ(p.socket.ReadBufferSize(), size);
    p.socket.ConsumePdu();
    p.socket.ReleaseReadBuffer();  // the second fragment waits in it
    EXPECT_EQ(p.socket.ReadBufferSize(), size);
    r = ReadOne(p.socket, 0);
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    EXPECT_EQ(r.h.callId, 2u);
    EXPECT_EQ(r.pdu[r.pdu.size() - 1], 2);
}

TEST(RpcSocketWait, EndsWithoutInputAndStillReadsWhatComesLaterOrInPieces)
{
    SocketPair p;
    EXPECT_EQ(ReadOne(p.socket, 30).io, CRpcSocket::Io::TimedOut);
    EXPECT_EQ(ReadOne(p.socket, 0).io, CRpcSocket::Io::TimedOut);
    // A fragment that arrives in two pieces is put together.
    const Bytes pdu = RequestBytes(3, 0, 1, Bytes(100, 3));
    std::thread late([&] {
        p.Send(Bytes(pdu.begin(), pdu.begin() + 10));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        p.Send(Bytes(pdu.begin() + 10, pdu.end()));
    });
    Read r = ReadOne(p.socket, 2000);
    late.join();
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    EXPECT_EQ(r.h.callId, 3u);
    EXPECT_TRUE(std::equal(pdu.begin(), pdu.end(), r.pdu.begin(), r.pdu.end()));
}

TEST(RpcSocketWait, ShutdownReadEndsAWaitWithoutEnd)
{
    SocketPair p;
    std::thread stop([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        p.socket.ShutdownRead();
    });
    EXPECT_EQ(ReadOne(p.socket, CRpcSocket::kWaitForever).io, CRpcSocket::Io::Closed);
    stop.join();
}

TEST(RpcSocketWait, PeerCloseIsClosed)
{
    SocketPair p;
    ::shutdown(p.peer, SHUT_WR);
    EXPECT_EQ(ReadOne(p.socket).io, CRpcSocket::Io::Closed);
}
