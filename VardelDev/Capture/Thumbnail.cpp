#include "Thumbnail.h"

#include "Frame.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace vardel {

Thumbnail::~Thumbnail() { sws_freeContext(m_scaler); }

std::optional<std::vector<std::uint8_t>> Thumbnail::make(const Frame& frame)
{
    std::vector<std::uint8_t> out;
    if (!make(frame, out))
        return std::nullopt;
    return out;
}

bool Thumbnail::make(const Frame& frame, std::vector<std::uint8_t>& out)
{
    if (const EncodedPicture* encoded = frame.encoded(); encoded && encoded->thumbnail()) {
        out = *encoded->thumbnail();
        return true;
    }
    const FrameBuffer* planes = frame.pixels();
    return planes
        && scale(planes->data(0), planes->stride(0), frame.width(), frame.height(), Source::luma, out);
}

bool Thumbnail::scale(const std::uint8_t* data, int stride, int width, int height, Source source,
    std::vector<std::uint8_t>& out)
{
    // Area averaging: every thumbnail pixel is the mean of the luma it covers, which is what the motion
    // detector's noise thresholds assume (a point sampler would alias sensor noise into motion).
    const AVPixelFormat format = source == Source::yuyv ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_GRAY8;
    m_scaler = sws_getCachedContext(m_scaler, width, height, format, kWidth, kHeight, AV_PIX_FMT_GRAY8,
        SWS_AREA, nullptr, nullptr, nullptr);
    if (!m_scaler)
        return false;
    // Values pass through unchanged (libswscale would otherwise expand packed 4:2:2 as limited range):
    // the caller knows the range of its camera.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(m_scaler, coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
    out.resize(static_cast<std::size_t>(kWidth) * kHeight);
    const std::uint8_t* sources[4] = { data, nullptr, nullptr, nullptr };
    const int sourceStride[4] = { stride, 0, 0, 0 };
    std::uint8_t* target[4] = { out.data(), nullptr, nullptr, nullptr };
    const int targetStride[4] = { kWidth, 0, 0, 0 };
    return sws_scale(m_scaler, sources, sourceStride, 0, height, target, targetStride) == kHeight;
}

} // namespace vardel
