#pragma once

#include "V4L2Io.h"

namespace vardel {

// V4L2Io through libv4l2: it passes a format the camera offers itself straight through and converts to
// one it emulates (the fallback for cameras with none of the formats we read). Interrupted ioctls are
// retried. Stateless; any thread.
class V4L2SystemIo final : public V4L2Io {
public:
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* map(int fd, std::size_t length, off_t offset) override;
    int unmap(void* address, std::size_t length) override;
    int wait(int fd, double seconds) override;
};

} // namespace vardel
