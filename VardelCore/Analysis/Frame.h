#pragma once

#include "EncodedPicture.h"
#include "FrameBuffer.h"

#include <memory>
#include <mutex>

namespace vardel {

// One captured picture: reference-counted and immutable, with its capture time (seconds since 1970).
// It holds either 4:2:0 planes or a camera's encoded picture whose planes are decoded on first use, once,
// whichever thread asks first; copies share the pixels and the decoded planes. A pooled buffer goes back
// to its pool when the last copy is gone. A default-constructed Frame is empty.
class Frame {
public:
    Frame() = default;
    Frame(std::shared_ptr<const FrameBuffer> buffer, double time)
        : m_buffer(std::move(buffer))
        , m_time(time)
    {
    }
    Frame(std::shared_ptr<const EncodedPicture> encoded, double time)
        : m_lazy(encoded ? std::make_shared<Lazy>(std::move(encoded)) : nullptr)
        , m_time(time)
    {
    }

    bool empty() const { return !m_buffer && !m_lazy; }
    double time() const { return m_time; }
    int width() const { return m_lazy ? m_lazy->encoded->width() : m_buffer ? m_buffer->width() : 0; }
    int height() const { return m_lazy ? m_lazy->encoded->height() : m_buffer ? m_buffer->height() : 0; }
    PixelFormat format() const
    {
        return m_lazy ? m_lazy->encoded->format() : m_buffer ? m_buffer->format() : PixelFormat::i420;
    }

    // The camera's encoded picture, or null for a frame made of planes.
    const EncodedPicture* encoded() const { return m_lazy ? m_lazy->encoded.get() : nullptr; }
    // The 4:2:0 planes, decoding them on first use; null for an empty frame or one whose bytes do not
    // decode (a damaged picture: skip the frame).
    const FrameBuffer* pixels() const;
    // The planes of a non-empty frame. A frame that does not decode reads as black: callers that must
    // not use such a picture ask `pixels` instead.
    const FrameBuffer& buffer() const;
    // The same picture without the planes decoded so far, for holding many frames: an encoded frame
    // decodes again when asked; a frame of planes is returned as it is.
    Frame compressed() const { return m_lazy ? Frame(m_lazy->encoded, m_time) : *this; }

    const std::uint8_t* luma() const { return buffer().data(0); }
    int lumaStride() const { return buffer().stride(0); }

private:
    struct Lazy {
        explicit Lazy(std::shared_ptr<const EncodedPicture> picture)
            : encoded(std::move(picture))
        {
        }
        std::shared_ptr<const EncodedPicture> encoded;
        std::once_flag once;
        std::shared_ptr<const FrameBuffer> decoded;
        std::once_flag blackOnce;
        std::shared_ptr<const FrameBuffer> black;
    };

    std::shared_ptr<const FrameBuffer> m_buffer;
    std::shared_ptr<Lazy> m_lazy;
    double m_time = 0;
};

} // namespace vardel
