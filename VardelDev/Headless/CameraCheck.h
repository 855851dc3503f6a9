#pragma once

#include "Paths.h"

#include <filesystem>
#include <string>
#include <vector>

namespace vardel {

// `brisko check-camera`: whether this user can open each camera node ("/dev/video*") read-write, as
// capture does, with the fix for a refusal (the "video" group). For a service account, where no
// desktop grants access to the camera.
namespace CameraCheck {

    enum class Access { ok, denied, busy, failed };

    Access access(const std::filesystem::path& node);
    // The capture nodes in name order.
    std::vector<std::filesystem::path> nodes(const std::filesystem::path& dev = "/dev");
    // Prints one line per node in the folder's language; 0 when at least one opens, else 1.
    int run(const Paths& paths, const std::filesystem::path& dev = "/dev");

} // namespace CameraCheck

} // namespace vardel
