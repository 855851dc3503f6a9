#pragma once

#include "CameraSource.h"

#include <optional>
#include <vector>

namespace vardel {

// Which picture size to ask a camera for, from the sizes it offers (in its own order).
struct FormatChoice {
    // The size opened by default: 1280x720 when offered, else the 16:9 size nearest to it, else none
    // (the camera keeps what it has).
    static std::optional<CameraFormat> preset(const std::vector<CameraFormat>& formats);
    // The size to switch back to when another program left the camera off 16:9: the widest 16:9 size up to
    // 1920 wide, the first of equal widths.
    static std::optional<CameraFormat> preferred16x9(const std::vector<CameraFormat>& formats);
    static bool is16x9(const CameraFormat& format);
};

} // namespace vardel
