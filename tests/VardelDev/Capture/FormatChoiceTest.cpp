#include "FormatChoice.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    struct PresetCase {
        const char* name;
        std::vector<CameraFormat> offered;
        std::optional<CameraFormat> preset;
    };

    class PresetTest : public ::testing::TestWithParam<PresetCase> { };

    TEST_P(PresetTest, AsksFor1280x720ElseTheNearestSixteenByNine)
    {
        EXPECT_EQ(FormatChoice::preset(GetParam().offered), GetParam().preset);
    }

    INSTANTIATE_TEST_SUITE_P(Offers, PresetTest,
        ::testing::Values(PresetCase { "Exact", { { 1920, 1080 }, { 1280, 720 }, { 640, 480 } },
                              CameraFormat { 1280, 720 } },
            PresetCase { "NearestWide", { { 640, 480 }, { 640, 360 }, { 1920, 1080 }, { 960, 540 } },
                CameraFormat { 960, 540 } },
            PresetCase { "OnlyLarger", { { 3840, 2160 }, { 1600, 1200 } }, CameraFormat { 3840, 2160 } },
            PresetCase { "NoWide", { { 640, 480 }, { 1280, 960 } }, std::nullopt },
            PresetCase { "Nothing", {}, std::nullopt }),
        [](const auto& param) { return std::string(param.param.name); });

    TEST(FormatChoiceTest, PreferredIsTheFirstOfTheWidestSixteenByNineUpTo1920)
    {
        EXPECT_EQ(FormatChoice::preferred16x9({ { 1280, 720 }, { 3840, 2160 }, { 1920, 1080 } }),
            (CameraFormat { 1920, 1080 }));
        // 854x480 is within 0.01 of 16:9; 1920x1088 (a padded encoder size) is not.
        EXPECT_EQ(FormatChoice::preferred16x9({ { 1920, 1088 }, { 854, 480 } }), (CameraFormat { 854, 480 }));
        EXPECT_EQ(FormatChoice::preferred16x9({ { 640, 480 }, { 0, 0 } }), std::nullopt);
    }

} // namespace
} // namespace vardel
