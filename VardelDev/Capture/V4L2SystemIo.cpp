#include "V4L2SystemIo.h"

#include <cerrno>
#include <libv4l2.h>
#include <poll.h>
#include <sys/mman.h>

namespace vardel {

int V4L2SystemIo::open(const std::string& path, int flags) { return v4l2_open(path.c_str(), flags); }

int V4L2SystemIo::close(int fd) { return v4l2_close(fd); }

int V4L2SystemIo::ioctl(int fd, unsigned long request, void* argument)
{
    int result;
    do {
        result = v4l2_ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

void* V4L2SystemIo::map(int fd, std::size_t length, off_t offset)
{
    return v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
}

int V4L2SystemIo::unmap(void* address, std::size_t length) { return v4l2_munmap(address, length); }

int V4L2SystemIo::wait(int fd, double seconds)
{
    pollfd watched { fd, POLLIN, 0 };
    int ready = ::poll(&watched, 1, int(seconds * 1000));
    if (ready < 0 && errno == EINTR)
        return 0;
    if (ready > 0 && (watched.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
    }
    // An error condition counts as ready: dequeuing then reports what happened (ENODEV when unplugged).
    return ready;
}

} // namespace vardel
