#include "FormatChoice.h"

#include <cmath>
#include <cstdlib>

namespace vardel {

bool FormatChoice::is16x9(const CameraFormat& format)
{
    return format.height > 0 && std::abs(double(format.width) / format.height - 16.0 / 9.0) < 0.01;
}

std::optional<CameraFormat> FormatChoice::preset(const std::vector<CameraFormat>& formats)
{
    const CameraFormat wanted { 1280, 720 };
    std::optional<CameraFormat> nearest;
    for (const auto& format : formats) {
        if (format == wanted)
            return format;
        if (is16x9(format)
            && (!nearest || std::abs(format.width - wanted.width) < std::abs(nearest->width - wanted.width)))
            nearest = format;
    }
    return nearest;
}

std::optional<CameraFormat> FormatChoice::preferred16x9(const std::vector<CameraFormat>& formats)
{
    std::optional<CameraFormat> best;
    for (const auto& format : formats) {
        if (format.width <= 1920 && is16x9(format) && (!best || format.width > best->width))
            best = format;
    }
    return best;
}

} // namespace vardel
