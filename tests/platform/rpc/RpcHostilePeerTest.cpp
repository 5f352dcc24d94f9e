// Broken and hostile peers on real sockets: each loses its connection (or
// gets a fault) and the server goes on serving everyone else.
#include "PduBuilder.h"
#include "TestRpcServer.h"

#include "platform/rpc/RpcClient.h"
#include "platform/rpc/RpcSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace rpctest;
using namespace std::chrono_literals;

namespace {

struct RawPeer {
    CRpcSocket socket;
    rpc::PduHeader h;
    rpc::HeaderCheck check = rpc::HeaderCheck::Ok;
    std::span<const BYTE> pdu;

    explicit RawPeer(int port, const std::string& from = {})
    {
        EXPECT_EQ(socket.Connect("127.0.0.1", port, 2000, from), RPC_S_OK);
    }
    bool Send(const Bytes& b) { return socket.SendAll(b.data(), b.size(), 2000); }
    // The next packet (Ok) or how the connection ended.
    CRpcSocket::Io Next(int waitMs = 5000)
    {
        socket.ConsumePdu();
        return socket.ReadPdu(0xFFFF, waitMs, waitMs, h, check, pdu);
    }
};

// The server still answers a well-behaved client.
void ExpectServing(int port)
{
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", port), RPC_S_OK);
    ASSERT_EQ(client.Bind(kInterface50, 5, 0, &context), RPC_S_OK);
    CRpcBuffer reply;
    EXPECT_EQ(client.Call(context, 0, {}, reply), RPC_S_OK);
}

Bytes BoundPrefix()
{
    return SimpleBind(kInterface50, 5, 0);
}

} // namespace

TEST(RpcHostilePeer, BadHeadersLoseTheConnection)
{
    CTestRpcServer server;
    Bytes badVersion = RequestBytes(1, 0, 0, {});
    badVersion[0] = 6;
    Bytes badMinor = BoundPrefix();
    badMinor[1] = 7;
    Bytes huge = RequestBytes(1, 0, 0, {});
    huge[8] = 0xFF;
    huge[9] = 0xFF;  // 65535, over the server's 5840
    Bytes tiny = RequestBytes(1, 0, 0, {});
    tiny[8] = 8;
    tiny[9] = 0;
    Bytes authTooLong = RequestBytes(1, 0, 0, {});
    authTooLong[10] = 0x40;
    for (const Bytes* bad : {&badVersion, &huge, &tiny, &authTooLong}) {
        RawPeer peer(server.Port());
        ASSERT_TRUE(peer.Send(BoundPrefix()));
        ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        EXPECT_EQ(peer.h.Type(), rpc::PduType::BindAck);
        peer.Send(*bad);
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    {
        // A bind of an unknown minor version is told what is spoken first.
        RawPeer peer(server.Port());
        peer.Send(badMinor);
        ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        EXPECT_EQ(peer.h.Type(), rpc::PduType::BindNak);
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    ExpectServing(server.Port());
}

TEST(RpcHostilePeer, RequestsBeforeBindAndTruncatedPacketsLoseTheConnection)
{
    CTestRpcServer server;
    {
        RawPeer peer(server.Port());
        peer.Send(RequestBytes(1, 0, 0, {}));
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    {
        // Ten bytes, then the peer goes away.
        RawPeer peer(server.Port());
        Bytes bind = BoundPrefix();
        peer.Send(Bytes(bind.begin(), bind.begin() + 10));
    }
    {
        // A fragment longer than what its header says follows.
        RawPeer peer(server.Port());
        Bytes bind = BoundPrefix();
        bind.resize(bind.size() - 4);
        peer.Send(bind);
        peer.socket.ShutdownRead();
    }
    ExpectServing(server.Port());
}

TEST(RpcHostilePeer, SlowAndSilentPeersAreTimedOut)
{
    RpcServerLimits limits;
    limits.bindTimeoutMs = 200;
    limits.pduTimeoutMs = 200;
    limits.idleTimeoutMs = 300;
    CTestRpcServer server(limits);
    auto started = std::chrono::steady_clock::now();
    {
        // Connects and never binds.
        RawPeer peer(server.Port());
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    {
        // Sends a fragment a few bytes at a time, too slowly.
        RawPeer peer(server.Port());
        Bytes bind = BoundPrefix();
        peer.Send(Bytes(bind.begin(), bind.begin() + 20));
        std::this_thread::sleep_for(150ms);
        peer.Send(Bytes(bind.begin() + 20, bind.begin() + 30));
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    {
        // Bound, then idle: asked to shut down, then closed.
        RawPeer peer(server.Port());
        peer.Send(BoundPrefix());
        ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        EXPECT_EQ(peer.h.Type(), rpc::PduType::Shutdown);
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    {
        // The first fragment of a request, and the rest never comes.
        RawPeer peer(server.Port());
        peer.Send(BoundPrefix());
        ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        peer.Send(RequestBytes(2, 0, 1, Bytes(100, 1), rpc::PFC_FIRST_FRAG, 1000));
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Closed);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    ExpectServing(server.Port());
}

TEST(RpcHostilePeer, OversizedRequestLosesTheConnection)
{
    RpcServerLimits limits;
    limits.maxRequestBytes = 64 * 1024;
    CTestRpcServer server(limits);
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    ASSERT_EQ(client.Bind(kControl, 1, 0, &context), RPC_S_OK);
    CRpcBuffer reply;
    std::vector<BYTE> fits(64 * 1024, 3);
    EXPECT_EQ(client.Call(context, kEcho, fits, reply), RPC_S_OK);
    EXPECT_EQ(reply.Size(), fits.size());
    std::vector<BYTE> tooBig(64 * 1024 + 1, 3);
    EXPECT_EQ(client.Call(context, kEcho, tooBig, reply), RPC_S_CALL_FAILED);
    EXPECT_FALSE(client.IsConnected());
    ExpectServing(server.Port());
}

TEST(RpcHostilePeer, ConnectionsBeyondTheLimitAreClosedAtOnce)
{
    RpcServerLimits limits;
    limits.maxConnections = 2;
    CTestRpcServer server(limits);
    RawPeer first(server.Port());
    RawPeer second(server.Port());
    for (RawPeer* p : {&first, &second}) {
        p->Send(BoundPrefix());
        ASSERT_EQ(p->Next(), CRpcSocket::Io::Ok);
    }
    RawPeer third(server.Port());
    EXPECT_EQ(third.Next(), CRpcSocket::Io::Closed);
    first.socket.Close();
    for (int i = 0; i < 200 && server.Server().ConnectionCount() > 1; ++i)
        std::this_thread::sleep_for(5ms);
    ExpectServing(server.Port());
}

TEST(RpcHostilePeer, AuthenticatedBindIsRefusedAndPlainBindThenWorks)
{
    CTestRpcServer server;
    RawPeer peer(server.Port());
    Bytes bind = BoundPrefix();
    AddAuthVerifier(bind, 40);
    peer.Send(bind);
    ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
    ASSERT_EQ(peer.h.Type(), rpc::PduType::BindNak);
    rpc::BindNakPdu nak;
    ASSERT_TRUE(rpc::ParseBindNak(peer.pdu, peer.h, nak));
    EXPECT_EQ(nak.reason, rpc::kNakAuthenticationTypeNotRecognized);
    peer.Send(SimpleBind(kInterface50, 5, 0, 2));
    ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
    EXPECT_EQ(peer.h.Type(), rpc::PduType::BindAck);
    peer.Send(RequestBytes(3, 0, 0, {}));
    ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
    EXPECT_EQ(peer.h.Type(), rpc::PduType::Response);
    EXPECT_EQ(peer.h.callId, 3u);
}

TEST(RpcHostilePeer, PipelinedRequestsAreAnsweredInOrder)
{
    CTestRpcServer server;
    RawPeer peer(server.Port());
    Bytes stream = BoundPrefix();
    for (ULONG id = 10; id < 20; ++id) {
        Bytes r = RequestBytes(id, 0, 0, {});
        stream.insert(stream.end(), r.begin(), r.end());
    }
    peer.Send(stream);
    ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
    for (ULONG id = 10; id < 20; ++id) {
        ASSERT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        EXPECT_EQ(peer.h.Type(), rpc::PduType::Response);
        EXPECT_EQ(peer.h.callId, id);
    }
}

TEST(RpcHostilePeer, OnePeerAddressTakesOnlyItsShareOfConnections)
{
    RpcServerLimits limits;
    limits.maxConnections = 6;
    limits.maxConnectionsPerPeer = 3;
    CTestRpcServer server(limits);
    std::vector<std::unique_ptr<RawPeer>> greedy;
    for (int i = 0; i < 3; ++i) {
        greedy.push_back(std::make_unique<RawPeer>(server.Port(), "127.0.0.2"));
        greedy.back()->Send(BoundPrefix());
        ASSERT_EQ(greedy.back()->Next(), CRpcSocket::Io::Ok);
    }
    RawPeer oneTooMany(server.Port(), "127.0.0.2");
    EXPECT_EQ(oneTooMany.Next(), CRpcSocket::Io::Closed);
    // Another address still gets in, and the greedy one again once it gave a slot back.
    ExpectServing(server.Port());
    greedy.pop_back();
    // Both the other address's connection and the one given back must be gone.
    for (int i = 0; i < 200 && server.Server().ConnectionCount() > 2; ++i)
        std::this_thread::sleep_for(5ms);
    RawPeer again(server.Port(), "127.0.0.2");
    again.Send(BoundPrefix());
    EXPECT_EQ(again.Next(), CRpcSocket::Io::Ok);
}

TEST(RpcHostilePeer, StalledLargeRequestsHoldOnlyTheirPeersShare)
{
    RpcServerLimits limits;
    limits.maxRequestBytesInFlight = 512 * 1024;
    limits.maxRequestBytesPerPeer = 256 * 1024;
    limits.pduTimeoutMs = 400;
    CTestRpcServer server(limits);
    auto startLarge = [&](RawPeer& peer) {
        peer.Send(SimpleBind(kControl, 1, 0));
        EXPECT_EQ(peer.Next(), CRpcSocket::Io::Ok);
        // The first of many fragments, announcing 200 KiB.
        peer.Send(RequestBytes(2, 0, kEcho, Bytes(1000, 1), rpc::PFC_FIRST_FRAG, 200 * 1024));
    };
    RawPeer holder(server.Port(), "127.0.0.2");
    startLarge(holder);
    // The same address's next large request finds its share spent and goes.
    RawPeer second(server.Port(), "127.0.0.2");
    const auto started = std::chrono::steady_clock::now();
    startLarge(second);
    EXPECT_EQ(second.Next(3000), CRpcSocket::Io::Closed);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 350ms);

    // Another address's large request is served meanwhile.
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    ASSERT_EQ(client.Bind(kControl, 1, 0, &context), RPC_S_OK);
    std::vector<BYTE> large(200 * 1024, 7);
    CRpcBuffer reply;
    EXPECT_EQ(client.Call(context, kEcho, large, reply), RPC_S_OK);
    EXPECT_EQ(reply.Size(), large.size());
}
