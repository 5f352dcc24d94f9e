// Quiet connections held without a thread: the watch itself, and the server
// parking a connection, taking it back for its next call, closing it at its
// idle deadline and on stop.
#include "TestRpcServer.h"

#include "platform/rpc/RpcClient.h"
#include "platform/rpc/RpcIdleWatch.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

using namespace rpctest;
using namespace std::chrono_literals;

namespace {

struct Pair {
    Pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0); }
    ~Pair()
    {
        ::close(fd[0]);
        ::close(fd[1]);
    }
    int fd[2];
};

template <class Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = 10s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace

TEST(RpcIdleWatch, HandsBackOnInputOrAtTheDeadlineOnce)
{
    CRpcIdleWatch watch;
    Pair input, late, forever;
    std::promise<bool> inputWoke, lateWoke;
    ASSERT_TRUE(watch.Watch(input.fd[0], CRpcIdleWatch::Clock::time_point::max(),
                            [&](bool expired) { inputWoke.set_value(expired); }));
    ASSERT_TRUE(watch.Watch(late.fd[0], CRpcIdleWatch::Clock::now() + 50ms,
                            [&](bool expired) { lateWoke.set_value(expired); }));
    int forgotten = 0;
    ASSERT_TRUE(
        watch.Watch(forever.fd[0], CRpcIdleWatch::Clock::time_point::max(), [&](bool) { ++forgotten; }));
    // The same socket cannot be watched twice at once.
    EXPECT_FALSE(watch.Watch(forever.fd[0], CRpcIdleWatch::Clock::time_point::max(), [](bool) {}));
    EXPECT_EQ(watch.Count(), 3u);

    auto lateResult = lateWoke.get_future();
    ASSERT_EQ(lateResult.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(lateResult.get());
    ASSERT_EQ(::write(input.fd[1], "x", 1), 1);
    auto inputResult = inputWoke.get_future();
    ASSERT_EQ(inputResult.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(inputResult.get());
    EXPECT_EQ(watch.Count(), 1u);
    // Watched again after being handed back.
    std::promise<bool> again;
    ASSERT_TRUE(watch.Watch(input.fd[0], CRpcIdleWatch::Clock::time_point::max(),
                            [&](bool expired) { again.set_value(expired); }));
    auto againResult = again.get_future();
    ASSERT_EQ(againResult.wait_for(5s), std::future_status::ready);  // the byte is still unread
    EXPECT_EQ(forgotten, 0);
}

TEST(RpcServerQuiet, QuietConnectionWaitsWithoutAThreadAndServesItsNextCall)
{
    CTestRpcServer server;
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    ASSERT_EQ(client.Bind(kControl, 1, 0, &context), RPC_S_OK);
    const std::vector<BYTE> big(200000, 7);
    CRpcBuffer reply;
    ASSERT_EQ(client.Call(context, kEcho, big, reply), RPC_S_OK);
    ASSERT_TRUE(WaitUntil([&] { return server.Server().QuietConnectionCount() == 1; }));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(client.Call(context, kEcho, big, reply), RPC_S_OK);
        EXPECT_EQ(reply.Size(), big.size());
    }
    EXPECT_EQ(server.Server().ConnectionCount(), 1u);
    // An unbound connection is parked too, and binds later.
    CRpcClient slow;
    ASSERT_EQ(slow.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    ASSERT_TRUE(WaitUntil([&] { return server.Server().QuietConnectionCount() == 2; }));
    USHORT slowContext;
    ASSERT_EQ(slow.Bind(kInterface50, 5, 0, &slowContext), RPC_S_OK);
    EXPECT_EQ(slow.Call(slowContext, 0, {}, reply), RPC_S_OK);
}

TEST(RpcServerQuiet, QuietConnectionIsAskedToLeaveAtItsIdleDeadline)
{
    RpcServerLimits limits;
    limits.idleTimeoutMs = 1500;
    CTestRpcServer server(limits);
    CRpcClient client;
    USHORT context;
    ASSERT_EQ(client.Connect("127.0.0.1", server.Port()), RPC_S_OK);
    ASSERT_EQ(client.Bind(kInterface50, 5, 0, &context), RPC_S_OK);
    ASSERT_TRUE(WaitUntil([&] { return server.Server().QuietConnectionCount() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return server.Server().ConnectionCount() == 0; }));
    CRpcBuffer reply;
    EXPECT_EQ(client.Call(context, 0, {}, reply), RPC_S_CALL_FAILED_DNE);
}

TEST(RpcServerQuiet, StopEndsQuietConnections)
{
    CTestRpcServer server;
    std::vector<std::unique_ptr<CRpcClient>> clients;
    for (int i = 0; i < 20; ++i) {
        auto c = std::make_unique<CRpcClient>();
        USHORT context;
        ASSERT_EQ(c->Connect("127.0.0.1", server.Port()), RPC_S_OK);
        ASSERT_EQ(c->Bind(kInterface50, 5, 0, &context), RPC_S_OK);
        clients.push_back(std::move(c));
    }
    ASSERT_TRUE(WaitUntil([&] { return server.Server().QuietConnectionCount() == 20; }));
    ASSERT_EQ(server.Server().StopListening(), RPC_S_OK);
    auto waited = std::async(std::launch::async, [&] { return server.Server().WaitListen(); });
    ASSERT_EQ(waited.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(server.Server().ConnectionCount(), 0u);
    EXPECT_EQ(server.Server().QuietConnectionCount(), 0u);
}
