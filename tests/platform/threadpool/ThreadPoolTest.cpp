#include "platform/threadpool/ThreadPool.h"

#include "platform/win/LastError.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A gate that items wait at until the test opens it.
struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    int waiting = 0;
    std::atomic<int> passed{0};

    // False when the gate stayed shut for the whole wait.
    bool Wait(std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(m);
        ++waiting;
        cv.notify_all();
        bool ok = cv.wait_for(lock, limit, [&] { return open; });
        ++passed;
        return ok;
    }
    void Open()
    {
        std::lock_guard lock(m);
        open = true;
        cv.notify_all();
    }
    bool AwaitWaiting(int n, std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock lock(m);
        return cv.wait_for(lock, limit, [&] { return waiting >= n; });
    }
};

DWORD WaitAtGate(void* context)
{
    static_cast<Gate*>(context)->Wait();
    return 0;
}

struct Counter {
    std::atomic<int> count{0};
};

DWORD Count(void* context)
{
    ++static_cast<Counter*>(context)->count;
    return 0;
}

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

} // namespace

TEST(ThreadPool, RunsItemsWithTheirContext)
{
    CThreadPool pool(2);
    Counter counter;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(pool.Queue(&Count, &counter, i % 2 == 0 ? WT_EXECUTEDEFAULT : WT_EXECUTELONGFUNCTION));
    EXPECT_TRUE(Eventually([&] { return counter.count == 100; }));
}

TEST(ThreadPool, LongItemsEachGetAThreadOfTheirOwn)
{
    // Every item waits until all of them are waiting: that only ends when
    // they run side by side, far more of them than ordinary threads.
    CThreadPool pool(1);
    constexpr int kItems = 24;
    Gate gate;
    for (int i = 0; i < kItems; ++i)
        ASSERT_TRUE(pool.Queue(&WaitAtGate, &gate, WT_EXECUTELONGFUNCTION));
    EXPECT_TRUE(gate.AwaitWaiting(kItems));
    gate.Open();
    EXPECT_TRUE(Eventually([&] { return gate.passed == kItems; }));
}

TEST(ThreadPool, BlockedLongItemsDoNotStarveOrdinaryOnes)
{
    CThreadPool pool(1);
    Gate gate;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(pool.Queue(&WaitAtGate, &gate, WT_EXECUTELONGFUNCTION));
    ASSERT_TRUE(gate.AwaitWaiting(4));
    Counter counter;
    ASSERT_TRUE(pool.Queue(&Count, &counter, WT_EXECUTEDEFAULT));
    EXPECT_TRUE(Eventually([&] { return counter.count == 1; }));
    gate.Open();
}

TEST(ThreadPool, UnflaggedBlockingItemHoldsUpItsLaneOnly)
{
    CThreadPool pool(1);
    Gate gate;
    ASSERT_TRUE(pool.Queue(&WaitAtGate, &gate, WT_EXECUTEDEFAULT));
    ASSERT_TRUE(gate.AwaitWaiting(1));
    Counter ordinary, flagged;
    ASSERT_TRUE(pool.Queue(&Count, &ordinary, WT_EXECUTEDEFAULT));
    ASSERT_TRUE(pool.Queue(&Count, &flagged, WT_EXECUTELONGFUNCTION));
    EXPECT_TRUE(Eventually([&] { return flagged.count == 1; }));
    // The one ordinary thread is still held by the gate.
    EXPECT_EQ(ordinary.count, 0);
    gate.Open();
    EXPECT_TRUE(Eventually([&] { return ordinary.count == 1; }));
}

TEST(ThreadPool, ShutdownRunsWhatIsQueuedThenRefuses)
{
    CThreadPool pool(1);
    Gate gate;
    Counter counter;
    ASSERT_TRUE(pool.Queue(&WaitAtGate, &gate, WT_EXECUTEDEFAULT));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(pool.Queue(&Count, &counter, WT_EXECUTEDEFAULT));
    std::thread opener([&] {
        gate.AwaitWaiting(1);
        std::this_thread::sleep_for(50ms);
        gate.Open();
    });
    pool.Shutdown();
    opener.join();
    EXPECT_EQ(counter.count, 5);
    EXPECT_EQ(gate.passed, 1);

    SetLastError(0);
    EXPECT_FALSE(pool.Queue(&Count, &counter, WT_EXECUTEDEFAULT));
    EXPECT_EQ(GetLastError(), ERROR_SHUTDOWN_IN_PROGRESS);
    pool.Shutdown();
}

TEST(ThreadPool, ThrowingItemDoesNotEndThePool)
{
    CThreadPool pool(1);
    ASSERT_TRUE(pool.Queue([](void*) -> DWORD { throw std::runtime_error("boom"); }, nullptr, WT_EXECUTEDEFAULT));
    Counter counter;
    ASSERT_TRUE(pool.Queue(&Count, &counter, WT_EXECUTEDEFAULT));
    EXPECT_TRUE(Eventually([&] { return counter.count == 1; }));
}

TEST(ThreadPool, NullFunctionIsRefused)
{
    CThreadPool pool(1);
    SetLastError(0);
    EXPECT_FALSE(pool.Queue(nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

namespace {

std::atomic<int> g_hookRuns{0};
thread_local bool t_hooked = false;

void MarkThread()
{
    ++g_hookRuns;
    t_hooked = true;
}

void ThrowingHook()
{
    throw std::runtime_error("hook");
}

// Counts the items that found their thread hooked, and all of them.
struct HookSeen {
    std::atomic<int> hooked{0};
    std::atomic<int> ran{0};
};

DWORD NoteHook(void* context)
{
    auto* seen = static_cast<HookSeen*>(context);
    if (t_hooked)
        ++seen->hooked;
    ++seen->ran;
    return 0;
}

} // namespace

TEST(ThreadPool, StartHookRunsOnceOnEveryThreadBeforeItsItems)
{
    g_hookRuns = 0;
    CThreadPool pool(1);
    HookSeen before;
    // A thread that is running already when the hook is set.
    ASSERT_TRUE(pool.Queue(&NoteHook, &before, WT_EXECUTEDEFAULT));
    ASSERT_TRUE(Eventually([&] { return before.ran == 1; }));
    EXPECT_EQ(before.hooked, 0);

    pool.SetThreadStartHook(&MarkThread);
    pool.SetThreadStartHook(&MarkThread); // the same hook again: no new round
    HookSeen after;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(pool.Queue(&NoteHook, &after, WT_EXECUTEDEFAULT));
    ASSERT_TRUE(Eventually([&] { return after.ran == 5; }));
    EXPECT_EQ(after.hooked, 5);
    EXPECT_EQ(g_hookRuns, 1);

    // A thread started after the hook was set.
    HookSeen fresh;
    ASSERT_TRUE(pool.Queue(&NoteHook, &fresh, WT_EXECUTELONGFUNCTION));
    ASSERT_TRUE(Eventually([&] { return fresh.ran == 1; }));
    EXPECT_EQ(fresh.hooked, 1);
    EXPECT_EQ(g_hookRuns, 2);

    // Removed: nothing more runs.
    pool.SetThreadStartHook(nullptr);
    HookSeen removed;
    ASSERT_TRUE(pool.Queue(&NoteHook, &removed, WT_EXECUTEDEFAULT));
    ASSERT_TRUE(Eventually([&] { return removed.ran == 1; }));
    EXPECT_EQ(g_hookRuns, 2);
}

TEST(ThreadPool, ThrowingStartHookDoesNotKeepItemsFromRunning)
{
    CThreadPool pool(1);
    pool.SetThreadStartHook(&ThrowingHook);
    Counter counter;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(pool.Queue(&Count, &counter, i == 0 ? WT_EXECUTELONGFUNCTION : WT_EXECUTEDEFAULT));
    EXPECT_TRUE(Eventually([&] { return counter.count == 3; }));
}

namespace {

std::atomic<int> g_ranAtExit{0};

DWORD SlowCount(void*)
{
    std::this_thread::sleep_for(100ms);
    ++g_ranAtExit;
    return 0;
}

} // namespace

TEST(ThreadPoolDeathTest, ProcessEndDrainsTheProcessPool)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Registered before the pool exists, so it runs after the pool
            // has been ended at exit.
            std::atexit([] {
                std::fprintf(stderr, "ran %d\n", g_ranAtExit.load());
                std::fflush(stderr);
            });
            for (int i = 0; i < 3; ++i)
                QueueUserWorkItem(&SlowCount, nullptr, WT_EXECUTELONGFUNCTION);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "ran 3");
}
