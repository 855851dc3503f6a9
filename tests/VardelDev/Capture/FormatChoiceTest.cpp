#include "FormatChoice.h"

#include <gtest/gtest.h>

namespace vardel {
namespace {

    // The preset asks for 1280x720, else the nearest 16:9; the preferred size is the first of the widest
    // 16:9 sizes up to 1920. 854x480 is within 0.01 of 16:9; 1920x1088 (a padded encoder size) is not.
    TEST(FormatChoiceTest, PresetIs1280x720ElseTheNearestAndPreferredTheWidestUpTo1920)
    {
        const struct {
            std::vector<CameraFormat> offered;
            std::optional<CameraFormat> preset, preferred;
        } rows[] = {
            { { { 1920, 1080 }, { 1280, 720 }, { 640, 480 } }, CameraFormat { 1280, 720 },
                CameraFormat { 1920, 1080 } },
            { { { 640, 480 }, { 640, 360 }, { 1920, 1080 }, { 960, 540 } }, CameraFormat { 960, 540 },
                CameraFormat { 1920, 1080 } },
            { { { 3840, 2160 }, { 1600, 1200 } }, CameraFormat { 3840, 2160 }, std::nullopt },
            { { { 1280, 720 }, { 3840, 2160 }, { 1920, 1080 } }, CameraFormat { 1280, 720 },
                CameraFormat { 1920, 1080 } },
            { { { 1920, 1088 }, { 854, 480 } }, CameraFormat { 854, 480 }, CameraFormat { 854, 480 } },
            { { { 640, 480 }, { 1280, 960 }, { 0, 0 } }, std::nullopt, std::nullopt },
            { {}, std::nullopt, std::nullopt },
        };
        for (const auto& row : rows) {
            SCOPED_TRACE(&row - rows);
            EXPECT_EQ(FormatChoice::preset(row.offered), row.preset);
            EXPECT_EQ(FormatChoice::preferred16x9(row.offered), row.preferred);
        }
    }

} // namespace
} // namespace vardel
