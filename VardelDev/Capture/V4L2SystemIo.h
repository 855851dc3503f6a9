#pragma once

#include "V4L2Io.h"

namespace vardel {

// V4L2Io through libv4l2, which converts the formats webcams send (MJPEG, YUYV) to the planar 4:2:0
// we ask for. Interrupted ioctls are retried. Stateless; any thread.
class V4L2SystemIo final : public V4L2Io {
public:
    int open(const std::string& path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* map(int fd, std::size_t length, off_t offset) override;
    int unmap(void* address, std::size_t length) override;
};

} // namespace vardel
