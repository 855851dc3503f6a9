#include "ManualMainExecutor.h"

#include <gtest/gtest.h>

#include <vector>

using vardel::test::ManualMainExecutor;

TEST(ManualMainExecutor, RunsNothingUntilDrainedThenRunsInOrderIncludingNestedPosts)
{
    ManualMainExecutor main;
    std::vector<int> order;
    main.post([&] {
        order.push_back(1);
        main.post([&] { order.push_back(3); });
    });
    main.post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(main.drain(), 3);
    EXPECT_EQ(order, (std::vector<int> { 1, 2, 3 }));
}

TEST(ManualMainExecutor, DelayedWorkWaitsForAdvance)
{
    ManualMainExecutor main;
    std::vector<double> ranAt;
    main.postAfter(2.0, [&] { ranAt.push_back(main.now()); });
    main.postAfter(0.5, [&] { ranAt.push_back(main.now()); });
    EXPECT_EQ(main.drain(), 0);
    EXPECT_EQ(main.advance(1.0), 1);
    EXPECT_EQ(main.advance(1.0), 1);
    EXPECT_EQ(ranAt, (std::vector<double> { 0.5, 2.0 }));
    EXPECT_EQ(main.now(), 2.0);
}
