// A picture as a camera hands it over, in the format the capture negotiated: a JPEG frame from an MJPEG
// webcam, or packed or planar YUV. The first seven bytes choose the format: pixels (0 JPEG, 1 YUYV,
// 2 NV12, 3 I420), limited range, width and height (big-endian, at most 2048), and the padding added to
// the shortest line a driver may report; the rest is the picture. Taking it either drops it as damaged
// or gives a whole thumbnail, and its full decode is null or a whole picture of the negotiated size.
#include "CameraPicture.h"
#include "FuzzSupport.h"
#include "Thumbnail.h"

#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    constexpr std::size_t kHeader = 7;
    if (size < kHeader)
        return 0;
    CameraPicture::Layout layout;
    layout.pixels = static_cast<CameraPixels>(data[0] % 4);
    layout.limitedRange = data[1] & 1;
    layout.width = 1 + ((data[2] << 8) | data[3]) % 2048;
    layout.height = 1 + ((data[4] << 8) | data[5]) % 2048;
    const int shortestLine = layout.pixels == CameraPixels::yuyv ? 2 * layout.width : layout.width;
    layout.bytesPerLine = shortestLine + data[6];

    static Thumbnail scaler;
    auto counters = std::make_shared<CaptureCounters>();
    const auto picture
        = CameraPicture::take(layout, data + kHeader, size - kHeader, scaler, FramePool(), counters);
    if (!picture) {
        fuzz::require(counters->damaged == 1, "a dropped picture is not counted as damaged");
        return 0;
    }
    fuzz::require(
        picture->thumbnail() && picture->thumbnail()->size() == Thumbnail::kWidth * Thumbnail::kHeight,
        "a taken picture has no whole thumbnail");
    if (const auto planes = picture->decode()) {
        fuzz::require(planes->width() == layout.width && planes->height() == layout.height,
            "a picture decodes to another size than the camera's");
        fuzz::readWhole(*planes);
    }
    return 0;
}
