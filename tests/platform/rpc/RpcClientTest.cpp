// The client's own guarantees: it never hangs on a dead or silent server.
#include "TestRpcServer.h"

#include "platform/rpc/RpcClient.h"

#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
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
