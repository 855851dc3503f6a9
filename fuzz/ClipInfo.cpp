// A finished clip read back for its duration and size before upload: any bytes give none or a
// plausible answer, within the time-out, and never crash the reader.
#include "FuzzSupport.h"
#include "VideoInfo.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vardel;
    fuzz::prepareFFmpeg();
    if (const auto info = VideoInfo::read(fuzz::inputFile("clip.mp4", fuzz::text(data, size)))) {
        fuzz::require(std::isfinite(info->seconds) && info->seconds > 0, "a clip without a duration is read");
        fuzz::require(info->width > 0 && info->height > 0, "a clip without a size is read");
    }
    return 0;
}
