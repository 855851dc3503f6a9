#include "FrameThinner.h"

#include <gtest/gtest.h>

#include <vector>

namespace vardel {
namespace {

    struct RateCase {
        const char* name;
        double start;
        double framesPerSecond;
        int frames;
        int passed;
    };

    class FrameThinnerRateTest : public ::testing::TestWithParam<RateCase> { };

    TEST_P(FrameThinnerRateTest, PassesAtMostOneSamplePerSpacing)
    {
        FrameThinner thinner;
        int passed = 0;
        for (int i = 0; i < GetParam().frames; ++i)
            passed += thinner.accept(GetParam().start + i / GetParam().framesPerSecond);
        EXPECT_EQ(passed, GetParam().passed);
    }

    INSTANTIATE_TEST_SUITE_P(Rates, FrameThinnerRateTest,
        ::testing::Values(RateCase { "EveryThirdFromTimeZero", 0.0, 30, 30, 10 },
            RateCase { "MonotonicCameraStamps", 86'400.5, 30, 300, 100 },
            RateCase { "EveryOneAtTen", 0.0, 10, 20, 20 },
            RateCase { "EverySixthAtSixty", 12.0, 60, 60, 10 }),
        [](const auto& info) { return std::string(info.param.name); });

    TEST(FrameThinnerTest, TimeGoingBackwardsStartsANewRunInsteadOfStalling)
    {
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
