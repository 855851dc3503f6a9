#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vardel {

// Whether this user may open the cameras. V4L2 asks no one for consent: a camera node is usable when it
// opens for reading and writing, and refused when the file permissions say no (the user is not in the
// "video" group, or the seat's access list leaves them out). Checked with access(2), which opens nothing,
// so it is instant and never wakes a camera. Any thread.
struct CameraAccess {
    // The "videoN" nodes under `devRoot` that exist but that this user may not open.
    static std::vector<std::string> refusedNodes(const std::filesystem::path& devRoot = "/dev");
};

} // namespace vardel
