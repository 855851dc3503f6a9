#include "CameraCheck.h"

#include "L.h"
#include "RemoteControl.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace vardel::CameraCheck {

Access access(const std::filesystem::path& node)
{
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return Access::ok;
    }
    switch (errno) {
    case EACCES:
    case EPERM:
        return Access::denied;
    case EBUSY:
        return Access::busy;
    default:
        return Access::failed;
    }
}

std::vector<std::filesystem::path> nodes(const std::filesystem::path& dev)
{
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dev, error), end; !error && it != end; it.increment(error))
        if (it->path().filename().string().starts_with("video"))
            found.push_back(it->path());
    std::sort(found.begin(), found.end());
    return found;
}

int run(const Paths& paths, const std::filesystem::path& dev)
{
    RemoteControl::useLanguageOf(paths);
    const passwd* user = ::getpwuid(::getuid());
    const std::string name = user && user->pw_name ? user->pw_name : "$USER";
    const auto found = nodes(dev);
    if (found.empty())
        std::printf("%s\n", L::t(K::hlNoCamera).c_str());
    bool usable = false;
    for (const auto& node : found) {
        const Access result = access(node);
        usable = usable || result == Access::ok;
        std::string line;
        switch (result) {
        case Access::ok:
            line = L::t(K::hlCamOK, { node.string() });
            break;
        case Access::denied:
            line = L::t(K::hlCamDenied, { node.string(), name, name });
            break;
        case Access::busy:
            line = L::t(K::hlCamBusy, { node.string() });
            break;
        case Access::failed:
            line = node.string() + ": " + std::strerror(errno);
            break;
        }
        std::printf("%s\n", line.c_str());
    }
    return usable ? 0 : 1;
}

} // namespace vardel::CameraCheck
