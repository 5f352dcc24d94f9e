#include "platform/rpc/RpcThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

using namespace std::chrono_literals;

namespace {

bool Eventually(const std::function<bool()>& condition)
{
    for (int i = 0; i < 1000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

} // namespace

TEST(RpcThreadPool, GrowsForBlockedItemsAndShrinksWhenIdle)
{
    std::atomic<int> hooks{0};
    CRpcThreadPool pool([&] { hooks.fetch_add(1); }, 1, 50ms);
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> running{0};
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(pool.Submit([&] {
            running.fetch_add(1);
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return release; });
        }));
    }
    // Every blocked item has a thread of its own, and each thread ran the hook.
    ASSERT_TRUE(Eventually([&] { return running.load() == 10; }));
    EXPECT_EQ(pool.ThreadCount(), 10u);
    EXPECT_EQ(hooks.load(), 10);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    EXPECT_TRUE(Eventually([&] { return pool.ThreadCount() == 1; }));
}

TEST(RpcThreadPool, IdleThreadIsReused)
{
    std::atomic<int> hooks{0};
    CRpcThreadPool pool([&] { hooks.fetch_add(1); });
    std::set<std::thread::id> ids;
    std::mutex m;
    for (int i = 0; i < 20; ++i) {
        std::atomic<bool> done{false};
        pool.Submit([&] {
            std::lock_guard lock(m);
            ids.insert(std::this_thread::get_id());
            done = true;
        });
        ASSERT_TRUE(Eventually([&] { return done.load() && pool.IdleCount() == pool.ThreadCount(); }));
    }
    EXPECT_EQ(ids.size(), 1u);
    EXPECT_EQ(hooks.load(), 1);
}

TEST(RpcThreadPool, ThrowingItemsAndHooksDoNotEndThePool)
{
    CRpcThreadPool pool([] { throw 1; });
    pool.Submit([] { throw std::runtime_error("item"); });
    std::atomic<bool> ran{false};
    pool.Submit([&] { ran = true; });
    EXPECT_TRUE(Eventually([&] { return ran.load(); }));
}
