#include "FrameThinner.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    TEST(FrameThinnerTest, PassesAtMostOneSamplePerTenthOfASecondAndRestartsWhenTimeGoesBack)
    {
        const struct {
            double start, framesPerSecond;
            int frames, passed;
        } rows[]
            = { { 0.0, 30, 30, 10 }, { 86'400.5, 30, 300, 100 }, { 0.0, 10, 20, 20 }, { 12.0, 60, 60, 10 } };
        for (const auto& [start, framesPerSecond, frames, passed] : rows) {
            FrameThinner thinner;
            int count = 0;
            for (int i = 0; i < frames; ++i)
                count += thinner.accept(start + i / framesPerSecond);
            EXPECT_EQ(count, passed) << start << " at " << framesPerSecond;
        }

        FrameThinner thinner;
        EXPECT_TRUE(thinner.accept(100.0));
        EXPECT_FALSE(thinner.accept(100.05));
        EXPECT_TRUE(thinner.accept(2.0)); // the device's clock was reset
        EXPECT_FALSE(thinner.accept(2.05));
        EXPECT_TRUE(thinner.accept(2.1));
        thinner.reset();
        EXPECT_TRUE(thinner.accept(2.11));
    }

} // namespace
} // namespace vardel
