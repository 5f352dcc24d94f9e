// Many connections and calls at once, and calls that block.
#include "TestRpcServer.h"

#include "platform/rpc/NdrReader.h"
#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcClient.h"
#include "platform/rpc/RpcStripedCount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace rpctest;

namespace {

RPC_STATUS ConnectBind(CRpcClient& client, int port, const GUID& id, USHORT major, USHORT* context)
{
    RPC_STATUS s = client.Connect("127.0.0.1", port);
    return s != RPC_S_OK ? s : client.Bind(id, major, 0, context);
}

} // namespace

TEST(RpcConcurrency, ManyConnectionsCallAtOnce)
{
    CTestRpcServer server;
    constexpr int kClients = 64;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            CRpcClient client;
            USHORT context;
            if (ConnectBind(client, server.Port(), c % 2 ? kInterface50 : kInterface65, 5, &context) != RPC_S_OK)
                return;
            std::mt19937 random{unsigned(c)};
            for (int i = 0; i < 60; ++i) {
                // Mostly small, now and then several fragments.
                size_t n = i % 10 == 9 ? 20000 + random() % 20000 : random() % 600;
                std::vector<BYTE> blob(n);
                for (BYTE& b : blob)
                    b = BYTE(random());
                CRpcBuffer request, reply;
                NdrMarshalInvokeRequest(request, blob.data(), ULONG(n));
                if (client.Call(context, 1, request.View(), reply) != RPC_S_OK)
                    return;
                InvokeBlobView out;
                LONG result;
                if (NdrUnmarshalInvokeReply(reply.View(), {}, out, result) != RPC_S_OK || result != LONG(n) ||
                    !std::equal(blob.rbegin(), blob.rend(), out.data))
                    return;
            }
            good.fetch_add(1);
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(good.load(), kClients);
}

TEST(RpcConcurrency, BlockedCallDoesNotStallOtherConnections)
{
    CTestRpcServer server;
    RPC_STATUS blockedStatus;
    std::thread blocked = server.StartBlockedCall(&blockedStatus);
    ASSERT_TRUE(server.WaitBlocked(1));
    RpcClientOptions options;
    options.callTimeoutMs = 10000;
    for (int i = 0; i < 20; ++i) {
        CRpcClient other(options);
        USHORT context;
        ASSERT_EQ(ConnectBind(other, server.Port(), kInterface50, 5, &context), RPC_S_OK);
        CRpcBuffer reply;
        ASSERT_EQ(other.Call(context, 0, {}, reply), RPC_S_OK);
    }
    EXPECT_EQ(server.Blocked(), 1);
    server.Release();
    blocked.join();
    EXPECT_EQ(blockedStatus, RPC_S_OK);
}

TEST(RpcConcurrency, ServesMaxCallsBlockingConnectionsAndRefusesOneMore)
{
    constexpr int kCalls = 1234;
    CTestRpcServer server({}, kCalls);
    std::atomic<int> ok{0};
    std::vector<std::unique_ptr<CRpcClient>> clients(kCalls);
    std::vector<USHORT> contexts(kCalls);
    for (int i = 0; i < kCalls; ++i) {
        clients[i] = std::make_unique<CRpcClient>();
        ASSERT_EQ(ConnectBind(*clients[i], server.Port(), kControl, 1, &contexts[i]), RPC_S_OK) << i;
    }
    std::vector<std::thread> threads;
    threads.reserve(kCalls);
    for (int i = 0; i < kCalls; ++i) {
        threads.emplace_back([&, i] {
            CRpcBuffer reply;
            if (clients[i]->Call(contexts[i], kBlock, {}, reply) == RPC_S_OK)
                ok.fetch_add(1);
        });
    }
    ASSERT_TRUE(server.WaitBlocked(kCalls, 120000)) << server.Blocked();
    EXPECT_EQ(server.Server().ActiveCalls(), unsigned(kCalls));
    // The limit is reached: one more call is refused, not queued.
    CRpcClient extra;
    USHORT context;
    ASSERT_EQ(ConnectBind(extra, server.Port(), kInterface50, 5, &context), RPC_S_OK);
    CRpcBuffer reply;
    EXPECT_EQ(extra.Call(context, 0, {}, reply), RPC_S_SERVER_TOO_BUSY);
    server.Release();
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(ok.load(), kCalls);
    // Below the limit again.
    EXPECT_EQ(extra.Call(context, 0, {}, reply), RPC_S_OK);
}

TEST(RpcConcurrency, CallThreadHookRunsOnEveryCallThread)
{
    CTestRpcServer server;
    constexpr int kBlocked = 8;
    std::vector<std::thread> threads;
    RPC_STATUS statuses[kBlocked];
    for (int i = 0; i < kBlocked; ++i)
        threads.push_back(server.StartBlockedCall(&statuses[i]));
    ASSERT_TRUE(server.WaitBlocked(kBlocked));
    // Each blocked call holds its own thread, and each ran the hook.
    EXPECT_GE(server.HookRuns(), kBlocked);
    server.Release();
    for (std::thread& t : threads)
        t.join();
}

TEST(RpcConcurrency, StripedCountAddsUpWhileManyThreadsCountInAndOut)
{
    constexpr int kThreads = 32;
    CRpcStripedCount count;
    std::atomic<bool> stop{false};
    long lowest = 0, highest = 0;
    std::thread reader([&] {
        while (!stop) {
            const long sum = count.Sum();
            lowest = std::min(lowest, sum);
            highest = std::max(highest, sum);
        }
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            for (int n = 0; n < 20000; ++n) {
                count.Add(1);
                count.Add(-1);
            }
        });
    for (std::thread& t : threads)
        t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(count.Sum(), 0);
    // Each thread holds none or one, and takes back on its own stripe.
    EXPECT_GE(lowest, 0);
    EXPECT_LE(highest, kThreads);
}
