#pragma once

namespace vardel {

// The size of the last frame seen, to notice when the camera's format changes. 0 × 0 means no frame yet.
struct FrameFormatGuard {
    enum class Change { first, same, changed };

    int width = 0;
    int height = 0;

    // Stores the new size and says how it relates to the previous one.
    Change observe(int newWidth, int newHeight);
    // Width / height, or 16/9 while no usable size is known.
    double aspect() const;

    bool operator==(const FrameFormatGuard&) const = default;
};

} // namespace vardel
