#include "FramePool.h"

#include <algorithm>

namespace vardel {

FramePool::FramePool(std::size_t maxFree)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->maxFree = maxFree;
}

std::shared_ptr<FrameBuffer> FramePool::acquire(int width, int height, PixelFormat format)
{
    std::unique_ptr<FrameBuffer> buffer;
    {
        std::lock_guard lock(m_shared->mutex);
        auto& free = m_shared->free;
        auto found = std::find_if(free.begin(), free.end(),
            [&](const auto& candidate) { return candidate->matches(width, height, format); });
        if (found != free.end()) {
            buffer = std::move(*found);
            free.erase(found);
        } else {
            ++m_shared->allocations;
        }
    }
    if (!buffer)
        buffer = std::make_unique<FrameBuffer>(width, height, format);

    std::weak_ptr<Shared> home = m_shared;
    return std::shared_ptr<FrameBuffer>(buffer.release(), [home](FrameBuffer* released) {
        std::unique_ptr<FrameBuffer> owned(released);
        if (auto shared = home.lock()) {
            std::lock_guard lock(shared->mutex);
            if (shared->free.size() < shared->maxFree)
                shared->free.push_back(std::move(owned));
        }
    });
}

std::size_t FramePool::freeCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->free.size();
}

std::size_t FramePool::allocations() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->allocations;
}

} // namespace vardel
