#pragma once

#include "CameraSource.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace vardel {

class V4L2Io;

// Finds the V4L2 capture cameras: every /dev/videoN node that streams video capture (metadata and output
// nodes of the same camera are left out), named after the driver's card name, made unique with " (2)",
// " (3)" when two cameras share one. A node this user may not open is still listed when sysfs names it
// as a device's first node, so that opening it can report the refused permission. A camera is built in when
// its USB port is marked "fixed" in sysfs, or when it has no USB parent at all (a laptop's MIPI camera). Both
// roots are injected for tests.
struct V4L2Discovery {
    static std::vector<CameraDevice> discover(V4L2Io& io, const std::filesystem::path& devRoot = "/dev",
        const std::filesystem::path& sysfsRoot = "/sys");
    // `node` is the device node's name, e.g. "video0".
    static bool isBuiltIn(const std::filesystem::path& sysfsRoot, const std::string& node);
    // One pixel format of an open camera with its sizes; `emulated` when libv4l2 converts to it.
    struct Offer {
        std::uint32_t pixelFormat = 0;
        bool emulated = false;
        std::vector<CameraFormat> sizes;
    };
    static std::vector<Offer> offers(V4L2Io& io, int fd);
    // The sizes the open camera offers over all its pixel formats, in the driver's order, without repeats.
    static std::vector<CameraFormat> sizes(V4L2Io& io, int fd);
    // The frame period (seconds) to ask for: the longest the camera offers for this format and size that
    // still gives at least `minimumRate` frames a second; none when it lists no periods.
    static std::optional<double> period(
        V4L2Io& io, int fd, std::uint32_t pixelFormat, CameraFormat size, double minimumRate);
};

} // namespace vardel
