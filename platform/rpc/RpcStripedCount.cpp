#include "platform/rpc/RpcStripedCount.h"

long CRpcStripedCount::Sum() const
{
    long sum = 0;
    for (const Stripe& s : stripes_)
        sum += s.value.load();
    return sum;
}

size_t CRpcStripedCount::NextStripe()
{
    // Threads take stripes in turn as they first count.
    static std::atomic<size_t> next{0};
    return next.fetch_add(1) % kStripes;
}
