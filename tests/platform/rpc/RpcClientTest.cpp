// The client's own guarantees: it never hangs on a dead or silent server.
#include "PduBuilder.h"
#include "TestRpcServer.h"

#include "platform/rpc/RpcClient.h"

#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace rpctest;
using namespace std::chrono_literals;

namespace {

// A socket that accepts connections (through its backlog) and never speaks.
class SilentListener {
public:
    SilentListener()
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd_, 8);
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    int Port() const { return port_; }

private:
    int fd_;
    int port_;
};

template <typename F>
std::chrono::steady_clock::duration Timed(F f)
{
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::steady_clock::now() - start;
}

// A server of one connection that binds it and answers its first call with
// the bytes a script sends: replies in odd pieces, or broken ones.
class ScriptedServer {
public:
    // The script gets the connection and the call id of the request.
    using Script = std::function<void(int fd, ULONG callId)>;

    explicit ScriptedServer(Script script)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        socklen_t length = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script] {
            int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            CRpcSocket socket(::dup(fd));
            ULONG callId = 0;
            if (AcceptBoundCall(socket, &callId))
                script(fd, callId);
            ::close(fd);
        });
    }
    ~ScriptedServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int Port() const { return port_; }

private:
    int listener_;
    int port_;
    std::thread thread_;
};

// A response fragment; the alloc hint is what the caller says.
Bytes ResponseBytes(ULONG callId, BYTE flags, const Bytes& stub, ULONG allocHint)
{
    Bytes pdu(rpc::kResponseHeaderSize + stub.size());
    rpc::PduHeader h = Header(rpc::PduType::Response, callId, flags);
    h.fragLength = USHORT(pdu.size());
    rpc::EncodeResponseHeader(pdu.data(), h, allocHint, 0);
    std::copy(stub.begin(), stub.end(), pdu.begin() + rpc::kResponseHeaderSize);
    return pdu;
}

void SendBytes(int fd, const Bytes& b)
{
    ASSERT_EQ(::send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size()));
}

// A reply of several fragments, each body filled with its own number.
Bytes FragmentedReply(ULONG callId, int fragments, size_t body, ULONG allocHint)
{
    Bytes stream;
    for (int i = 0; i < fragments; ++i) {
        BYTE flags = BYTE((i == 0 ? rpc::PFC_FIRST_FRAG : 0) | (i == fragments - 1 ? rpc::PFC_LAST_FRAG : 0));
        Bytes f = ResponseBytes(callId, flags, Bytes(body, BYTE(i + 1)), allocHint);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    return stream;
}

RPC_STATUS CallScripted(ScriptedServer& server, CRpcBuffer& reply, RpcClientOptions options = {})
{
    CRpcClient client(options);
    USHORT context;
    if (client.Connect("127.0.0.1", server.Port()) != RPC_S_OK || client.Bind(kControl, 1, 0, &context) != RPC_S_OK)
        return RPC_S_INVALID_BINDING;
    return client.Call(context, 1, {}, reply);
}

} // namespace

TEST(RpcClientFailures, ClosedPortFailsAtOnce)
{
    int port = tqtest::FreeTcpPort();
    CRpcClient client;
    auto took = Timed([&] { EXPECT_EQ(client.Connect("127.0.0.1", port, 3000), RPC_S_SERVER_UNAVAILABLE); });
    EXPECT_LT(took, 2s);
    EXPECT_FALSE(client.IsConnected());
    USHORT context;
    EXPECT_EQ(client.Bind(kInterface50, 5, 0, &context), RPC_S_INVALID_BINDING);
}

TEST(RpcClientFailures, UnresolvableAndUnreachableHostsFailWithinTheTimeout)
{
    CRpcClient client;
    auto took = Timed([&] {
        EXPECT_EQ(client.Connect("host.that.does.not.exist.invalid", 34347, 1000), RPC_S_SERVER_UNAVAILABLE);
        // A documentation-only address: nothing answers there.
        EXPECT_EQ(client.Connect("192.0.2.1", 34347, 500), RPC_S_SERVER_UNAVAILABLE);
    });
    EXPECT_LT(took, 4s);
    EXPECT_EQ(client.Connect("127.0.0.1", 0, 500), RPC_S_INVALID_ENDPOINT_FORMAT);
}

TEST(RpcClientFailures, SilentServerFailsTheBindWithinItsTimeout)
{
    SilentListener silent;
    RpcClientOptions options;
    options.bindTimeoutMs = 300;
    CRpcClient client(options);
    ASSERT_EQ(client.Connect("127.0.0.1", silent.Port()), RPC_S_OK);
    USHORT context;
    auto took = Timed([&] { EXPECT_EQ(client.Bind(kInterface50, 5, 0, &context), RPC_S_CALL_FAILED_DNE); });
    EXPECT_LT(took, 3s);
    EXPECT_FALSE(client.IsConnected());
}

TEST(RpcClientFailures, CallTimeoutCancelsAndClosesTheConnection)
{
    CTestRpcServer server;
    RpcClientOptions options;
    options.callTimeoutMs = 200;
    CRpcClient client(options);
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    ASSERT_EQ(client.Bind(kControl, 1, 0, &context), RPC_S_OK);
    CRpcBuffer reply;
    EXPECT_EQ(client.Call(context, kBlock, {}, reply), RPC_S_CALL_CANCELLED);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.Call(context, kBlock, {}, reply), RPC_S_INVALID_BINDING);
    server.Release();
}

TEST(RpcClientFailures, ServerGoingAwayMidCallIsReported)
{
    auto server = std::make_unique<CTestRpcServer>();
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", server->Port()), RPC_S_OK);
    ASSERT_EQ(client.Bind(kControl, 1, 0, &context), RPC_S_OK);
    RPC_STATUS status = RPC_S_OK;
    std::thread call([&] {
        CRpcBuffer reply;
        status = client.Call(context, kBlock, {}, reply);
    });
    ASSERT_TRUE(server->WaitBlocked(1));
    // The call completes when the server releases it on its way down; the
    // next one learns the server asked to leave and never ran it.
    server.reset();
    call.join();
    EXPECT_EQ(status, RPC_S_OK);
    CRpcBuffer reply;
    EXPECT_EQ(client.Call(context, kEcho, {}, reply), RPC_S_CALL_FAILED_DNE);
    EXPECT_FALSE(client.IsConnected());
}

TEST(RpcClientReply, FragmentsSplitAnywhereAndAShortHintStillMakeTheWholeReply)
{
    // The hint promises less than comes, the pieces break headers and
    // bodies, and a stray packet of an abandoned call and a goodbye sit
    // between fragments.
    ScriptedServer server([](int fd, ULONG callId) {
        Bytes stream = FragmentedReply(callId, 4, 40000, 1000);
        Bytes stray = ResponseBytes(callId + 100, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG, Bytes(8, 9), 8);
        const Bytes goodbye = HeaderOnly(rpc::PduType::Shutdown, 0);
        stray.insert(stray.end(), goodbye.begin(), goodbye.end());
        const size_t second = rpc::kResponseHeaderSize + 40000;
        stream.insert(stream.begin() + long(second), stray.begin(), stray.end());
        for (size_t at = 0, piece = 7; at < stream.size(); at += piece, piece = piece * 3 + 5) {
            SendBytes(fd, Bytes(stream.begin() + long(at), stream.begin() + long(std::min(stream.size(), at + piece))));
            std::this_thread::sleep_for(1ms);
        }
    });
    CRpcBuffer reply;
    ASSERT_EQ(CallScripted(server, reply), RPC_S_OK);
    ASSERT_EQ(reply.Size(), 4u * 40000);
    for (size_t i = 0; i < reply.Size(); ++i)
        ASSERT_EQ(reply.Data()[i], BYTE(i / 40000 + 1)) << i;
}

TEST(RpcClientReply, APeerClosingOrStallingMidFragmentFailsTheCall)
{
    const auto broken = [](int fd, ULONG callId) {
        Bytes stream = FragmentedReply(callId, 3, 20000, 60000);
        SendBytes(fd, Bytes(stream.begin(), stream.begin() + 30000));
    };
    {
        ScriptedServer server(broken);
        CRpcBuffer reply;
        EXPECT_EQ(CallScripted(server, reply), RPC_S_CALL_FAILED);
    }
    {
        std::atomic<bool> done{false};
        ScriptedServer server([&](int fd, ULONG callId) {
            broken(fd, callId);
            while (!done)
                std::this_thread::sleep_for(5ms);
        });
        RpcClientOptions options;
        options.callTimeoutMs = 200;
        CRpcBuffer reply;
        EXPECT_EQ(CallScripted(server, reply, options), RPC_S_CALL_CANCELLED);
        done = true;
    }
}

TEST(RpcClientReply, AReplyBeyondTheLimitFailsBeforeItsBodyIsRead)
{
    ScriptedServer server([](int fd, ULONG callId) { SendBytes(fd, FragmentedReply(callId, 3, 4000, 12000)); });
    RpcClientOptions options;
    options.maxReplyBytes = 10000;
    CRpcBuffer reply;
    EXPECT_EQ(CallScripted(server, reply, options), RPC_S_CALL_FAILED);
}
