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

TEST(RpcSocketBody, GoesToTheCallerAcrossReadsAndLeavesTheNextFragmentReadable)
{
    SocketPair p;
    const Bytes body(5000, 0x33);
    const Bytes first = RequestBytes(4, 0, 1, body);
    const Bytes next = RequestBytes(5, 0, 1, Bytes(8, 5));
    // Header and a little of the body first; the rest, with the next
    // fragment right behind it, later.
    std::thread late([&] {
        p.Send(Bytes(first.begin(), first.begin() + 30));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Bytes rest(first.begin() + 30, first.end());
        rest.insert(rest.end(), next.begin(), next.end());
        p.Send(rest);
    });
    rpc::PduHeader h;
    rpc::HeaderCheck check;
    std::span<const BYTE> start;
    ASSERT_EQ(p.socket.ReadPduStart(0xFFFF, rpc::kRequestHeaderSize, 2000, 2000, h, check, start), CRpcSocket::Io::Ok);
    ASSERT_EQ(check, rpc::HeaderCheck::Ok);
    EXPECT_EQ(h.callId, 4u);
    EXPECT_EQ(start.size(), rpc::kRequestHeaderSize);
    Bytes out(body.size() + 1, 0xEE);
    EXPECT_EQ(p.socket.ReadPduBody(out.data()), CRpcSocket::Io::Ok);
    late.join();
    EXPECT_TRUE(std::equal(body.begin(), body.end(), out.begin()));
    EXPECT_EQ(out.back(), 0xEE);  // not a byte beyond the body

    Read r = ReadOne(p.socket);
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    EXPECT_EQ(r.h.callId, 5u);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), r.pdu.begin(), r.pdu.end()));
}

TEST(RpcSocketBody, AFragmentShorterThanThePrefixIsWholeAndTheRestReadsIntoTheBuffer)
{
    SocketPair p;
    Bytes two = HeaderOnly(rpc::PduType::Shutdown, 0);
    const Bytes request = RequestBytes(6, 0, 1, Bytes(100, 6));
    two.insert(two.end(), request.begin(), request.end());
    p.Send(two);
    rpc::PduHeader h;
    rpc::HeaderCheck check;
    std::span<const BYTE> start;
    ASSERT_EQ(p.socket.ReadPduStart(0xFFFF, rpc::kRequestHeaderSize, 2000, 2000, h, check, start), CRpcSocket::Io::Ok);
    EXPECT_EQ(h.Type(), rpc::PduType::Shutdown);
    EXPECT_EQ(start.size(), rpc::kCommonHeaderSize);
    BYTE none = 0;
    EXPECT_EQ(p.socket.ReadPduBody(&none), CRpcSocket::Io::Ok);

    ASSERT_EQ(p.socket.ReadPduStart(0xFFFF, rpc::kRequestHeaderSize, 2000, 2000, h, check, start), CRpcSocket::Io::Ok);
    std::span<const BYTE> pdu;
    ASSERT_EQ(p.socket.ReadPduRest(pdu), CRpcSocket::Io::Ok);
    EXPECT_TRUE(std::equal(request.begin(), request.end(), pdu.begin(), pdu.end()));
    p.socket.ConsumePdu();
    EXPECT_EQ(p.socket.Buffered(), 0u);
}

TEST(RpcSocketBody, APeerThatStopsOrClosesMidBodyIsTimedOutOrClosed)
{
    const Bytes pdu = RequestBytes(7, 0, 1, Bytes(3000, 7));
    for (bool close : {false, true}) {
        SocketPair p;
        p.Send(Bytes(pdu.begin(), pdu.begin() + 1000));
        if (close)
            ::shutdown(p.peer, SHUT_WR);
        rpc::PduHeader h;
        rpc::HeaderCheck check;
        std::span<const BYTE> start;
        ASSERT_EQ(p.socket.ReadPduStart(0xFFFF, rpc::kRequestHeaderSize, 2000, 50, h, check, start),
                  CRpcSocket::Io::Ok);
        Bytes out(3000);
        EXPECT_EQ(p.socket.ReadPduBody(out.data()), close ? CRpcSocket::Io::Closed : CRpcSocket::Io::TimedOut);
    }
}

TEST(RpcSocketBody, WithoutReadAheadOnlyHeadersPassThroughTheBuffer)
{
    SocketPair p;
    const Bytes body(2000, 0x44);
    Bytes two = RequestBytes(8, 0, 1, body);
    const Bytes next = RequestBytes(9, 0, 1, Bytes(500, 9));
    two.insert(two.end(), next.begin(), next.end());
    p.Send(two);
    rpc::PduHeader h;
    rpc::HeaderCheck check;
    std::span<const BYTE> start;
    ASSERT_EQ(p.socket.ReadPduStart(0xFFFF, rpc::kRequestHeaderSize, 2000, 2000, h, check, start, false),
              CRpcSocket::Io::Ok);
    EXPECT_EQ(p.socket.Buffered(), rpc::kRequestHeaderSize);
    Bytes out(body.size());
    ASSERT_EQ(p.socket.ReadPduBody(out.data()), CRpcSocket::Io::Ok);
    EXPECT_EQ(out, body);
    // The next fragment's header came with the body; its body did not.
    EXPECT_EQ(p.socket.Buffered(), rpc::kRequestHeaderSize);
    Read r = ReadOne(p.socket);
    ASSERT_EQ(r.io, CRpcSocket::Io::Ok);
    EXPECT_TRUE(std::equal(next.begin(), next.end(), r.pdu.begin(), r.pdu.end()));
}
