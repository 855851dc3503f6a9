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
    if (frame.empty())
        return false;
    // Area averaging: every thumbnail pixel is the mean of the luma it covers, which is what the motion
    // detector's noise thresholds assume (a point sampler would alias sensor noise into motion).
    m_scaler = sws_getCachedContext(m_scaler, frame.width(), frame.height(), AV_PIX_FMT_GRAY8, kWidth,
        kHeight, AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr);
    if (!m_scaler)
        return false;
    out.resize(static_cast<std::size_t>(kWidth) * kHeight);
    const std::uint8_t* source[4] = { frame.luma(), nullptr, nullptr, nullptr };
    const int sourceStride[4] = { frame.lumaStride(), 0, 0, 0 };
    std::uint8_t* target[4] = { out.data(), nullptr, nullptr, nullptr };
    const int targetStride[4] = { kWidth, 0, 0, 0 };
    return sws_scale(m_scaler, source, sourceStride, 0, frame.height(), target, targetStride) == kHeight;
}

} // namespace vardel
