#pragma once

#include <functional>

namespace vardel {

// The alert sender as quitting sees it. `stopAndFlush` stops the sending loop and calls `done` exactly
// once, after at most about `timeout` seconds.
class QueueControl {
public:
    virtual ~QueueControl() = default;
    virtual void startSending() = 0;
    virtual void stopAndFlush(double timeout, std::function<void()> done) = 0;
};

} // namespace vardel
