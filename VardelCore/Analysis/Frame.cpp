#include "Frame.h"

#include <cstring>

namespace vardel {

const FrameBuffer* Frame::pixels() const
{
    if (!m_lazy)
        return m_buffer.get();
    std::call_once(m_lazy->once, [&] { m_lazy->decoded = m_lazy->encoded->decode(); });
    return m_lazy->decoded.get();
}

const FrameBuffer& Frame::buffer() const
{
    if (!m_lazy)
        return *m_buffer;
    if (const FrameBuffer* planes = pixels())
        return *planes;
    std::call_once(m_lazy->blackOnce, [&] {
        auto black = std::make_shared<FrameBuffer>(width(), height(), format());
        for (int plane = 1; plane < black->planeCount(); ++plane)
            std::memset(
                black->data(plane), 128, std::size_t(black->stride(plane)) * black->planeHeight(plane));
        m_lazy->black = std::move(black);
    });
    return *m_lazy->black;
}

} // namespace vardel
