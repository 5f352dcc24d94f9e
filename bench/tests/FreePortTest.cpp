#include "bench/TqwlInstance.h"
#include "common/Names.h"

#include <gtest/gtest.h>

#include <set>

TEST(FreeLoopbackPort, GivesEachPortOnceAndNeverTheServersFixedOnes)
{
    std::set<int> seen;
    for (int i = 0; i < 200; ++i) {
        const int port = tqbench::FreeLoopbackPort();
        ASSERT_GT(port, 0);
        EXPECT_NE(port, tq::kDefaultPort);
        EXPECT_NE(port, tq::kClientPort);
        EXPECT_TRUE(seen.insert(port).second) << port;
    }
    // Nobody listens there.
    EXPECT_FALSE(tqbench::PortAnswers(*seen.begin()));
}
