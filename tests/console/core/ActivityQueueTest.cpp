// The activity queue hands records to the display thread in batches: order
// kept, nothing lost or doubled while the pipe thread keeps pushing.
#include "console/core/ActivityQueue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ActivityQueue, TakeAllMovesEveryRecordInOrderBehindWhatIsLeft)
{
    CActivityQueue queue;
    std::deque<std::string> taken;
    EXPECT_FALSE(queue.TakeAll(&taken));
    EXPECT_TRUE(taken.empty());

    queue.Push("a");
    queue.Push("b");
    EXPECT_EQ(queue.Size(), 2u);
    ASSERT_TRUE(queue.TakeAll(&taken));
    EXPECT_EQ(taken, (std::deque<std::string>{"a", "b"}));
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(queue.TakeAll(&taken));

    // Records not handled yet stay first.
    taken.pop_front();
    queue.Push("c");
    ASSERT_TRUE(queue.TakeAll(&taken));
    EXPECT_EQ(taken, (std::deque<std::string>{"b", "c"}));

    queue.Push("d");
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(queue.TakeAll(&taken));
    EXPECT_EQ(taken.size(), 2u);
}

TEST(ActivityQueue, BatchesTakenWhilePushingLoseNothingAndKeepEachWritersOrder)
{
    constexpr int kWriters = 4, kEach = 20000;
    CActivityQueue queue;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&queue, w] {
            for (int i = 0; i < kEach; ++i)
                ASSERT_TRUE(queue.Push(std::to_string(w) + ":" + std::to_string(i)));
        });
    std::vector<int> next(kWriters, 0);
    size_t total = 0, batches = 0;
    std::deque<std::string> taken;
    while (total < static_cast<size_t>(kWriters * kEach)) {
        if (!queue.TakeAll(&taken)) {
            std::this_thread::yield();
            continue;
        }
        ++batches;
        for (const std::string& text : taken) {
            const int w = std::stoi(text.substr(0, text.find(':')));
            ASSERT_EQ(std::stoi(text.substr(text.find(':') + 1)), next[w]) << text;
            ++next[w];
        }
        total += taken.size();
        taken.clear();
    }
    for (auto& t : writers)
        t.join();
    EXPECT_EQ(total, static_cast<size_t>(kWriters * kEach));
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_GE(batches, 1u);
}

} // namespace
