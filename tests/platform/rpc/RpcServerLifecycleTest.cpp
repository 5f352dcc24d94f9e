// Endpoints, listening, stopping and withdrawing interfaces.
#include "TestRpcServer.h"

#include "platform/rpc/RpcClient.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>


using namespace rpctest;
using namespace std::chrono_literals;

namespace {

RPC_STATUS ConnectBind(CRpcClient& client, int port, const GUID& id, USHORT major, USHORT* context)
{
    RPC_STATUS s = client.Connect("127.0.0.1", port);
    return s != RPC_S_OK ? s : client.Bind(id, major, 0, context);
}

RpcInterfaceDefinition Versioned(const GUID& id)
{
    return {id, 5, 0, {[](CRpcCall& call) {
                call.Reply().Append("v", 1);
                return RPC_S_OK;
            }}};
}

} // namespace

TEST(RpcServerSetup, StatusesOfMisuse)
{
    CRpcServer server;
    EXPECT_EQ(server.Listen(1, 10, true), RPC_S_NO_PROTSEQS_REGISTERED);
    EXPECT_EQ(server.StopListening(), RPC_S_NOT_LISTENING);
    EXPECT_EQ(server.WaitListen(), RPC_S_NOT_LISTENING);
    EXPECT_EQ(server.RegisterEndpoint(-1), RPC_S_INVALID_ENDPOINT_FORMAT);
    EXPECT_EQ(server.RegisterEndpoint(65536), RPC_S_INVALID_ENDPOINT_FORMAT);
    EXPECT_EQ(server.RegisterEndpoint(0, 10, nullptr, "not an address"), RPC_S_INVALID_NET_ADDR);
    int port = 0;
    ASSERT_EQ(server.RegisterEndpoint(0, 10, &port, "127.0.0.1"), RPC_S_OK);
    EXPECT_GT(port, 0);
    EXPECT_EQ(server.RegisterEndpoint(port, 10, nullptr, "127.0.0.1"), RPC_S_DUPLICATE_ENDPOINT);
    // A port another socket holds.
    CRpcServer other;
    EXPECT_EQ(other.RegisterEndpoint(port, 10, nullptr, "127.0.0.1"), RPC_S_DUPLICATE_ENDPOINT);

    EXPECT_EQ(server.RegisterInterface(Versioned(kInterface50)), RPC_S_OK);
    EXPECT_EQ(server.RegisterInterface(Versioned(kInterface50)), RPC_S_TYPE_ALREADY_REGISTERED);
    EXPECT_EQ(server.UnregisterInterface(kInterface65, 5, 0, false), RPC_S_UNKNOWN_IF);
    EXPECT_EQ(server.Listen(1, 0, true), RPC_S_MAX_CALLS_TOO_SMALL);
    ASSERT_EQ(server.Listen(1, 10, true), RPC_S_OK);
    EXPECT_EQ(server.Listen(1, 10, true), RPC_S_ALREADY_LISTENING);
    EXPECT_TRUE(server.IsListening());
    EXPECT_EQ(server.StopListening(), RPC_S_OK);
    EXPECT_EQ(server.WaitListen(), RPC_S_OK);
    EXPECT_FALSE(server.IsListening());
    // The endpoints went with the listening.
    std::vector<std::string> bindings;
    EXPECT_EQ(server.InquireBindings(bindings), RPC_S_NO_BINDINGS);
    EXPECT_EQ(server.Listen(1, 10, true), RPC_S_NO_PROTSEQS_REGISTERED);
}

TEST(RpcServerSetup, EndpointOnEveryAddressServesLoopback)
{
    CRpcServer server;
    int port = 0;
    ASSERT_EQ(server.RegisterEndpoint(0, 1234, &port), RPC_S_OK);
    std::string binding;
    ASSERT_EQ(server.RegisterInterface({kControl, 1, 0, {[&](CRpcCall& call) {
                                            binding = call.ServerStringBinding();
                                            return RPC_S_OK;
                                        }}}),
              RPC_S_OK);
    ASSERT_EQ(server.Listen(1, 1234, true), RPC_S_OK);
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(ConnectBind(client, port, kControl, 1, &context), RPC_S_OK);
    CRpcBuffer reply;
    ASSERT_EQ(client.Call(context, 0, {}, reply), RPC_S_OK);
    // An IPv4 caller shows as IPv4 even on a socket that takes both.
    EXPECT_EQ(binding, "ncacn_ip_tcp:127.0.0.1[" + std::to_string(port) + "]");
}

TEST(RpcServerSetup, EndpointAddedWhileListeningIsServed)
{
    CTestRpcServer server;
    int port = 0;
    ASSERT_EQ(server.Server().RegisterEndpoint(0, 100, &port, "127.0.0.1"), RPC_S_OK);
    CRpcClient client;
    USHORT context;
    EXPECT_EQ(ConnectBind(client, port, kInterface50, 5, &context), RPC_S_OK);
    EXPECT_EQ(client.SecondaryAddress(), std::to_string(port));
    std::vector<std::string> bindings;
    ASSERT_EQ(server.Server().InquireBindings(bindings), RPC_S_OK);
    ASSERT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings[1], "ncacn_ip_tcp:127.0.0.1[" + std::to_string(port) + "]");
}

TEST(RpcServerSetup, BlockingListenReturnsWhenStopped)
{
    CRpcServer server;
    ASSERT_EQ(server.RegisterEndpoint(0, 10, nullptr, "127.0.0.1"), RPC_S_OK);
    auto listening = std::async(std::launch::async, [&] { return server.Listen(2, 10, false); });
    for (int i = 0; i < 500 && !server.IsListening(); ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(listening.wait_for(50ms), std::future_status::timeout);
    EXPECT_EQ(server.StopListening(), RPC_S_OK);
    EXPECT_EQ(listening.get(), RPC_S_OK);
}

TEST(RpcServerStop, RunningCallsFinishAndIdleClientsAreAskedToLeave)
{
    CTestRpcServer server;
    CRpcClient idle;
    USHORT idleContext;
    ASSERT_EQ(ConnectBind(idle, server.Port(), kInterface50, 5, &idleContext), RPC_S_OK);

    RPC_STATUS blockedStatus;
    std::thread blocked = server.StartBlockedCall(&blockedStatus);
    ASSERT_TRUE(server.WaitBlocked(1));
    ASSERT_EQ(server.Server().StopListening(), RPC_S_OK);
    auto waited = std::async(std::launch::async, [&] { return server.Server().WaitListen(); });
    EXPECT_EQ(waited.wait_for(200ms), std::future_status::timeout);  // a call is still running

    // No new connections.
    CRpcClient late;
    EXPECT_EQ(late.Connect("127.0.0.1", server.Port(), 1000), RPC_S_SERVER_UNAVAILABLE);
    // The idle connection was closed after a shutdown request.
    CRpcBuffer reply;
    EXPECT_NE(idle.Call(idleContext, 0, {}, reply), RPC_S_OK);

    server.Release();
    blocked.join();
    EXPECT_EQ(blockedStatus, RPC_S_OK);
    EXPECT_EQ(waited.get(), RPC_S_OK);
    EXPECT_EQ(server.Server().ConnectionCount(), 0u);
}

TEST(RpcServerStop, UnregisterWaitsForRunningCallsOfThatInterface)
{
    CTestRpcServer server;
    RPC_STATUS blockedStatus;
    std::thread blocked = server.StartBlockedCall(&blockedStatus);
    ASSERT_TRUE(server.WaitBlocked(1));
    auto unregistered =
        std::async(std::launch::async, [&] { return server.Server().UnregisterInterface(kControl, 1, 0, true); });
    EXPECT_EQ(unregistered.wait_for(200ms), std::future_status::timeout);
    // Withdrawn already for new binds; the other interfaces serve on.
    CRpcClient client;
    USHORT context;
    EXPECT_EQ(ConnectBind(client, server.Port(), kControl, 1, &context), RPC_S_UNKNOWN_IF);
    EXPECT_EQ(client.Bind(kInterface65, 5, 0, &context), RPC_S_OK);
    server.Release();
    EXPECT_EQ(unregistered.get(), RPC_S_OK);
    blocked.join();
    EXPECT_EQ(blockedStatus, RPC_S_OK);
}

TEST(RpcServerStop, DestroyingARunningServerEndsItsConnections)
{
    auto server = std::make_unique<CTestRpcServer>();
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(ConnectBind(client, server->Port(), kInterface50, 5, &context), RPC_S_OK);
    server.reset();
    CRpcBuffer reply;
    EXPECT_NE(client.Call(context, 0, {}, reply), RPC_S_OK);
    EXPECT_FALSE(client.IsConnected());
}
