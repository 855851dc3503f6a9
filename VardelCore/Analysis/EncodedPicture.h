#pragma once

#include "FrameBuffer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vardel {

// A camera picture still in the camera's own bytes (JPEG, packed 4:2:2, ...). It knows its size and the
// layout its pixels decode to; `decode` makes the full-range 4:2:0 planes on demand. Immutable; any thread.
class EncodedPicture {
public:
    virtual ~EncodedPicture() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual PixelFormat format() const = 0;
    // Bytes held for the picture.
    virtual std::size_t encodedSize() const = 0;
    // The picture's 4:2:0 planes in a new buffer; null when its bytes do not decode.
    virtual std::shared_ptr<const FrameBuffer> decode() const = 0;
    // The 96x54 luma thumbnail made when the picture was taken, if any.
    virtual const std::vector<std::uint8_t>* thumbnail() const { return nullptr; }
};

} // namespace vardel
