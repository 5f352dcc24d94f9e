#include "bench/ClosedLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace tqbench {

namespace {

using Clock = std::chrono::steady_clock;

struct ClientResult {
    uint64_t calls = 0;
    uint64_t failures = 0;
    bool setupFailed = false;
    std::string error;
    LatencyStats latency;
    Clock::time_point end;
};

} // namespace

LoopResult ClosedLoop::ForTime(int clients, double seconds, const Setup& setup, int warmUpCalls)
{
    return Run(clients, seconds, -1, warmUpCalls, setup);
}

LoopResult ClosedLoop::ForCount(int clients, int callsEach, const Setup& setup)
{
    return Run(clients, 0, callsEach, 0, setup);
}

LoopResult ClosedLoop::Run(int clients, double seconds, int callsEach, int warmUpCalls, const Setup& setup)
{
    std::vector<ClientResult> results(static_cast<size_t>(clients));
    std::mutex mutex;
    std::condition_variable changed;
    int ready = 0, done = 0;
    bool go = false, release = false;
    Clock::time_point start, deadline;
    std::atomic<uint64_t> inFlight{0}, maxInFlight{0};

    auto client = [&](int index) {
        ClientResult& r = results[static_cast<size_t>(index)];
        Call call = setup(index, &r.error);
        r.setupFailed = !call;
        std::string ignored;
        for (int i = 0; call && i < warmUpCalls; ++i)
            call(&ignored);
        {
            std::unique_lock lock(mutex);
            ++ready;
            changed.notify_all();
            changed.wait(lock, [&] { return go; });
        }
        for (uint64_t n = 0; call; ++n) {
            if (callsEach >= 0 ? n >= static_cast<uint64_t>(callsEach) : Clock::now() >= deadline)
                break;
            uint64_t now = inFlight.fetch_add(1) + 1;
            uint64_t seen = maxInFlight.load();
            while (now > seen && !maxInFlight.compare_exchange_weak(seen, now)) {
            }
            std::string error;
            const auto before = Clock::now();
            bool ok = call(&error);
            const auto after = Clock::now();
            inFlight.fetch_sub(1);
            if (ok) {
                ++r.calls;
                r.latency.Add(std::chrono::duration<double, std::nano>(after - before).count());
            } else {
                ++r.failures;
                if (r.error.empty())
                    r.error = error.empty() ? "call failed" : error;
            }
        }
        r.end = Clock::now();
        // The connection (held by the call) stays open until every client is done.
        std::unique_lock lock(mutex);
        ++done;
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        lock.unlock();
        call = nullptr;
    };

    std::vector<std::thread> threads;
    threads.reserve(results.size());
    for (int i = 0; i < clients; ++i)
        threads.emplace_back(client, i);
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return ready == clients; });
        start = Clock::now();
        deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        go = true;
        changed.notify_all();
        changed.wait(lock, [&] { return done == clients; });
        release = true;
        changed.notify_all();
    }
    for (auto& t : threads)
        t.join();

    LoopResult total;
    Clock::time_point last = start;
    for (auto& r : results) {
        total.calls += r.calls;
        total.failures += r.failures;
        total.setupFailures += r.setupFailed ? 1 : 0;
        total.latency.Merge(r.latency);
        if (total.firstError.empty() && !r.error.empty())
            total.firstError = r.error;
        if (r.end > last)
            last = r.end;
    }
    total.maxInFlight = maxInFlight.load();
    total.seconds = std::chrono::duration<double>(last - start).count();
    return total;
}

} // namespace tqbench
