#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace vardel {

// The system calls a V4L2 camera needs, so that discovery and format handling can be tested against a
// scripted device. Calls follow the C conventions: -1 (or MAP_FAILED) with errno set on failure.
class V4L2Io {
public:
    virtual ~V4L2Io() = default;
    virtual int open(const std::string& path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* map(int fd, std::size_t length, off_t offset) = 0;
    virtual int unmap(void* address, std::size_t length) = 0;
    // Waits up to `seconds` for a filled buffer: 1 when one is ready, 0 on time-out, -1 on error.
    virtual int wait(int fd, double seconds) = 0;
};

} // namespace vardel
