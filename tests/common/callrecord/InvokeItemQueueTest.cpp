#include "common/callrecord/InvokeItemQueue.h"

#include <gtest/gtest.h>

#include <deque>

namespace {

InvokeItem Item(DWORD n)
{
    InvokeItem item;
    item.type = n % 4;
    item.length = n;
    return item;
}

// The queue against a std::deque fed the same way.
void ExpectSame(const CInvokeItemQueue& queue, const std::deque<DWORD>& model)
{
    ASSERT_EQ(queue.size(), model.size());
    ASSERT_EQ(queue.empty(), model.empty());
    size_t i = 0;
    for (const InvokeItem& item : queue) {
        EXPECT_EQ(item.length, model[i]);
        EXPECT_EQ(queue[i].length, model[i]);
        ++i;
    }
    if (!model.empty()) {
        EXPECT_EQ(queue.front().length, model.front());
        EXPECT_EQ(queue.back().length, model.back());
    }
}

} // namespace

TEST(InvokeItemQueue, HoldsAFewInPlaceAndGrowsBeyond)
{
    CInvokeItemQueue queue;
    std::deque<DWORD> model;
    for (DWORD n = 0; n < CInvokeItemQueue::kInPlace; ++n) {
        queue.push_back(Item(n));
        model.push_back(n);
    }
    EXPECT_EQ(queue.capacity(), CInvokeItemQueue::kInPlace);
    ExpectSame(queue, model);
    for (DWORD n = 100; n < 1100; ++n) {
        queue.push_back(Item(n));
        model.push_back(n);
    }
    EXPECT_GE(queue.capacity(), 1004u);
    ExpectSame(queue, model);
}

TEST(InvokeItemQueue, PopsAndPushesInTurnKeepTheOrder)
{
    // Read about as fast as it is written, the queue reuses its places
    // instead of growing for ever.
    CInvokeItemQueue queue;
    std::deque<DWORD> model;
    DWORD next = 0;
    for (int round = 0; round < 5000; ++round) {
        const int pushes = round % 3 == 0 ? 2 : 1;
        for (int p = 0; p < pushes; ++p) {
            queue.push_back(Item(next));
            model.push_back(next++);
        }
        if (round % 2 == 1) {
            queue.pop_front();
            model.pop_front();
        }
        while (model.size() > 40) {
            queue.pop_front();
            model.pop_front();
        }
        if (round % 97 == 0)
            ExpectSame(queue, model);
    }
    ExpectSame(queue, model);
    EXPECT_LE(queue.capacity(), 128u);
    while (!model.empty()) {
        EXPECT_EQ(queue.front().length, model.front());
        queue.pop_front();
        model.pop_front();
    }
    EXPECT_TRUE(queue.empty());
}

TEST(InvokeItemQueue, ReserveMakesRoomAndClearKeepsIt)
{
    CInvokeItemQueue queue;
    queue.push_back(Item(1));
    queue.push_back(Item(2));
    queue.pop_front();
    queue.reserve(300);
    EXPECT_GE(queue.capacity(), 300u);
    const size_t capacity = queue.capacity();
    ExpectSame(queue, {2});
    for (DWORD n = 3; n < 300; ++n)
        queue.push_back(Item(n));
    EXPECT_EQ(queue.capacity(), capacity);
    EXPECT_EQ(queue.size(), 298u);
    queue.clear();
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.capacity(), capacity);
    queue.push_back(Item(7));
    ExpectSame(queue, {7});
}
