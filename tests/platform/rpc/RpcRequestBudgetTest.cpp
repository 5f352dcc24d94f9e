#include "platform/rpc/RpcRequestBudget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(RpcRequestBudget, EachPeerGetsAShareOfTheWhole)
{
    CRpcRequestBudget budget(100, 60);
    EXPECT_TRUE(budget.Take("a", 60, 0));
    EXPECT_FALSE(budget.Take("a", 1, 0));  // a's share is spent
    EXPECT_TRUE(budget.Take("b", 40, 0));
    EXPECT_FALSE(budget.Take("c", 1, 0));  // so is the whole
    EXPECT_FALSE(budget.Take("c", 61, -1)); // more than a share never fits, not even after a wait
    EXPECT_EQ(budget.InUse(), 100u);
    budget.Give("a", 30);
    EXPECT_EQ(budget.InUse("a"), 30u);
    EXPECT_TRUE(budget.Take("c", 30, 0));
    budget.Give("a", 1000); // more than was taken gives back what there was
    EXPECT_EQ(budget.InUse("a"), 0u);
    EXPECT_EQ(budget.InUse(), 70u);
}

TEST(RpcRequestBudget, ATakeWaitsForBytesGivenBack)
{
    CRpcRequestBudget budget(10, 10);
    ASSERT_TRUE(budget.Take("a", 10, 0));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(budget.Take("b", 5, 100));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 90ms);
    std::thread giver([&] {
        std::this_thread::sleep_for(50ms);
        budget.Give("a", 5);
    });
    EXPECT_TRUE(budget.Take("b", 5, 5000));
    giver.join();
    EXPECT_EQ(budget.InUse("b"), 5u);
}
