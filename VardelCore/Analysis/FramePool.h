#pragma once

#include "FrameBuffer.h"

#include <memory>
#include <mutex>
#include <vector>

namespace vardel {

// Recycles frame buffers so that steady capture allocates nothing per frame. `acquire` returns a buffer
// of the asked size and layout (its old pixels are left as they were); when its last reference is
// released it returns to the pool, which keeps at most `maxFree` idle buffers. Buffers may outlive the
// pool; they are then simply freed. Thread-safe.
class FramePool {
public:
    explicit FramePool(std::size_t maxFree = 8);

    std::shared_ptr<FrameBuffer> acquire(int width, int height, PixelFormat format);

    std::size_t freeCount() const;
    std::size_t allocations() const;

private:
    struct Shared {
        std::mutex mutex;
        std::vector<std::unique_ptr<FrameBuffer>> free;
        std::size_t maxFree;
        std::size_t allocations = 0;
    };
    std::shared_ptr<Shared> m_shared;
};

} // namespace vardel
