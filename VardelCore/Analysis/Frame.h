#pragma once

#include "FrameBuffer.h"

#include <memory>

namespace vardel {

// One captured picture: a reference-counted, immutable 4:2:0 buffer plus its capture time
// (seconds since 1970). Copies share the pixels; the buffer goes back to its pool (if any)
// when the last copy is gone. A default-constructed Frame is empty.
class Frame {
public:
    Frame() = default;
    Frame(std::shared_ptr<const FrameBuffer> buffer, double time)
        : m_buffer(std::move(buffer))
        , m_time(time)
    {
    }

    bool empty() const { return !m_buffer; }
    double time() const { return m_time; }
    int width() const { return m_buffer ? m_buffer->width() : 0; }
    int height() const { return m_buffer ? m_buffer->height() : 0; }
    PixelFormat format() const { return m_buffer ? m_buffer->format() : PixelFormat::i420; }
    const FrameBuffer& buffer() const { return *m_buffer; }
    const std::shared_ptr<const FrameBuffer>& sharedBuffer() const { return m_buffer; }

    const std::uint8_t* luma() const { return m_buffer->data(0); }
    int lumaStride() const { return m_buffer->stride(0); }

private:
    std::shared_ptr<const FrameBuffer> m_buffer;
    double m_time = 0;
};

} // namespace vardel
