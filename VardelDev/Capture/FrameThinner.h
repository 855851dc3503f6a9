#pragma once

#include <optional>

namespace vardel {

// Passes on at most one sample per `kSpacing` seconds of presentation time, whatever the camera's rate.
// A time stamp earlier than the last one passed on (a looping file, a device whose clock was reset)
// starts a new run instead of holding back every later sample. Not thread-safe: the video queue owns it.
class FrameThinner {
public:
    static constexpr double kSpacing = 0.095;

    bool accept(double presentationTime);
    void reset() { m_lastProcessed.reset(); }

private:
    std::optional<double> m_lastProcessed;
};

} // namespace vardel
