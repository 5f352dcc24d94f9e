#pragma once
// A count that many threads change at once, kept in stripes of their own
// cache lines: a change costs what an uncontended atomic costs, and reading
// the whole count adds the stripes up. For counts changed on every call and
// read seldom.

#include <atomic>
#include <cstddef>

class CRpcStripedCount {
public:
    // Changes this thread's stripe; what a thread adds it takes back on the
    // same thread, or the stripes drift apart (their sum stays right).
    void Add(long n) { stripes_[ThreadStripe()].value.fetch_add(n); }
    long Sum() const;

private:
    static constexpr size_t kStripes = 16;
    struct alignas(64) Stripe {
        std::atomic<long> value{0};
    };
    static size_t ThreadStripe()
    {
        // Constant-initialised, so reading it needs no guard.
        static thread_local size_t mine = kStripes;
        if (mine == kStripes)
            mine = NextStripe();
        return mine;
    }
    static size_t NextStripe();

    Stripe stripes_[kStripes];
};
