#pragma once

#include <functional>

namespace vardel {

// The clip recorder as the mode machine sees it. `whenIdle` calls `done` exactly once: as soon as no
// clip is being written, or when `timeout` seconds have passed, whichever comes first.
class RecordingControl {
public:
    virtual ~RecordingControl() = default;
    virtual void startRecording() = 0;
    virtual void stopRecording() = 0;
    virtual void whenIdle(double timeout, std::function<void()> done) = 0;
};

} // namespace vardel
