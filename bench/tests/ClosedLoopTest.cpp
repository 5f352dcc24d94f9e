#include "bench/ClosedLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using tqbench::ClosedLoop;
using tqbench::LoopResult;

namespace {

// Stands in for a connection: counts how many are open.
struct Connection {
    explicit Connection(std::atomic<int>& open) : open_(open) { ++open_; }
    ~Connection() { --open_; }
    std::atomic<int>& open_;
};

} // namespace

TEST(ClosedLoop, CountedRunsMakeEveryCallAndHoldEveryConnectionToTheEnd)
{
    std::atomic<int> open{0}, fewestOpenDuringCalls{1000};
    LoopResult r = ClosedLoop::ForCount(20, 25, [&](int index, std::string*) -> ClosedLoop::Call {
        auto connection = std::make_shared<Connection>(open);
        auto made = std::make_shared<int>(0);
        return [&, connection, made, index](std::string* error) {
            int now = open.load();
            int seen = fewestOpenDuringCalls.load();
            while (now < seen && !fewestOpenDuringCalls.compare_exchange_weak(seen, now)) {
            }
            // Client 3's tenth call is answered wrongly.
            if (index == 3 && ++*made == 10) {
                *error = "wrong answer";
                return false;
            }
            return true;
        };
    });
    EXPECT_EQ(r.calls, 20u * 25u - 1u);
    EXPECT_EQ(r.failures, 1u);
    EXPECT_EQ(r.setupFailures, 0u);
    EXPECT_EQ(r.firstError, "wrong answer");
    EXPECT_EQ(r.latency.Count(), r.calls);
    // Every client had connected before the first call and none closed
    // before the last call of all.
    EXPECT_EQ(fewestOpenDuringCalls.load(), 20);
    EXPECT_EQ(open.load(), 0);
    EXPECT_GE(r.maxInFlight, 1u);
    EXPECT_LE(r.maxInFlight, 20u);
}

TEST(ClosedLoop, ClientsThatCannotConnectAreCountedAndTheOthersRun)
{
    LoopResult r = ClosedLoop::ForCount(6, 4, [](int index, std::string* error) -> ClosedLoop::Call {
        if (index % 3 == 0) {
            *error = "refused";
            return {};
        }
        return [](std::string*) { return true; };
    });
    EXPECT_EQ(r.setupFailures, 2u);
    EXPECT_EQ(r.calls, 4u * 4u);
    EXPECT_EQ(r.failures, 0u);
    EXPECT_EQ(r.firstError, "refused");
}

TEST(ClosedLoop, TimedRunsLastTheirTimeAndMeasureEachCall)
{
    std::atomic<int> warmUp{0};
    LoopResult r = ClosedLoop::ForTime(
        4, 0.2,
        [&](int, std::string*) -> ClosedLoop::Call {
            auto calls = std::make_shared<int>(0);
            return [&, calls](std::string*) {
                if (++*calls <= 2)
                    ++warmUp;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                return true;
            };
        },
        2);
    EXPECT_EQ(warmUp.load(), 8);  // untimed, before the clock started
    EXPECT_GE(r.seconds, 0.2);
    EXPECT_LT(r.seconds, 2.0);
    // About 100 calls per client; sleeps only ever take longer.
    EXPECT_GT(r.calls, 20u);
    EXPECT_LE(r.calls, 4u * 101u);
    EXPECT_GE(r.latency.Percentile(50), 2e6);
    EXPECT_NEAR(r.Rate(), static_cast<double>(r.calls) / r.seconds, 1e-6);
}

TEST(ClosedLoop, InFlightCountsCallsThatOverlap)
{
    // Each call waits until four calls are under way at once, so the count
    // must reach four.
    std::atomic<int> inside{0};
    LoopResult r = ClosedLoop::ForCount(4, 1, [&](int, std::string*) -> ClosedLoop::Call {
        return [&](std::string*) {
            ++inside;
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (inside.load() < 4 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            return inside.load() == 4;
        };
    });
    EXPECT_EQ(r.calls, 4u);
    EXPECT_EQ(r.maxInFlight, 4u);
}
