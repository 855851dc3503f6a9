#include "CameraAccess.h"

#include <cerrno>
#include <unistd.h>

namespace vardel {

std::vector<std::string> CameraAccess::refusedNodes(const std::filesystem::path& devRoot)
{
    std::vector<std::string> refused;
    std::error_code error;
    for (std::filesystem::directory_iterator it(devRoot, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("video", 0) != 0)
            continue;
        if (::access(it->path().c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
            refused.push_back(it->path().string());
    }
    return refused;
}

} // namespace vardel
