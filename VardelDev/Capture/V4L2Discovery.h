#pragma once

#include "CameraSource.h"

#include <filesystem>
#include <vector>

namespace vardel {

class V4L2Io;

// Finds the V4L2 capture cameras: every /dev/videoN node that streams video capture (metadata and output
// nodes of the same camera are left out), named after the driver's card name, made unique with " (2)",
// " (3)" when two cameras share one. A camera is built in when its USB port is marked "fixed" in sysfs,
// or when it has no USB parent at all (a laptop's MIPI camera). Both roots are injected for tests.
struct V4L2Discovery {
    static std::vector<CameraDevice> discover(V4L2Io& io, const std::filesystem::path& devRoot = "/dev",
        const std::filesystem::path& sysfsRoot = "/sys");
    // `node` is the device node's name, e.g. "video0".
    static bool isBuiltIn(const std::filesystem::path& sysfsRoot, const std::string& node);
    // The sizes the open camera offers over all its pixel formats, in the driver's order, without repeats.
    static std::vector<CameraFormat> sizes(V4L2Io& io, int fd);
};

} // namespace vardel
