#include "CameraChoice.h"

#include <algorithm>

namespace vardel {

std::optional<CameraChoice::Camera> CameraChoice::pick(
    const std::vector<Camera>& cameras, const std::string& chosen)
{
    if (!chosen.empty()) {
        auto found
            = std::find_if(cameras.begin(), cameras.end(), [&](const Camera& c) { return c.name == chosen; });
        return found == cameras.end() ? std::nullopt : std::optional(*found);
    }
    auto builtIn = std::find_if(cameras.begin(), cameras.end(), [](const Camera& c) { return c.builtIn; });
    if (builtIn != cameras.end())
        return *builtIn;
    if (cameras.empty())
        return std::nullopt;
    return cameras.front();
}

} // namespace vardel
