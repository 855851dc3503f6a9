#include "V4L2Discovery.h"

#include "V4L2Io.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/videodev2.h>
#include <map>

namespace vardel {

namespace fs = std::filesystem;

namespace {
    // Number of a "videoN" node, or -1.
    int videoNumber(const std::string& name)
    {
        if (name.rfind("video", 0) != 0 || name.size() == 5)
            return -1;
        int number = 0;
        for (char c : name.substr(5)) {
            if (c < '0' || c > '9')
                return -1;
            number = number * 10 + (c - '0');
        }
        return number;
    }

    std::string firstLine(const fs::path& file)
    {
        std::ifstream in(file);
        std::string line;
        std::getline(in, line);
        return line;
    }

    void add(std::vector<CameraFormat>& sizes, CameraFormat size)
    {
        if (size.width > 0 && size.height > 0 && std::find(sizes.begin(), sizes.end(), size) == sizes.end())
            sizes.push_back(size);
    }
}

bool V4L2Discovery::isBuiltIn(const fs::path& sysfsRoot, const std::string& node)
{
    std::error_code error;
    fs::path device = fs::canonical(sysfsRoot / "class" / "video4linux" / node / "device", error);
    if (error)
        return false; // no sysfs entry: nothing says it is built in
    fs::path root = fs::canonical(sysfsRoot, error);
    // The interface directory of a USB camera has no port attributes; its USB device parent (the directory
    // with idVendor) carries "removable": "fixed" for an internal port, "removable" or "unknown" otherwise.
    for (fs::path directory = device;
         !directory.empty() && directory != root && directory != directory.root_path();
         directory = directory.parent_path()) {
        if (fs::exists(directory / "idVendor", error))
            return firstLine(directory / "removable") == "fixed";
    }
    return true;
}

std::vector<V4L2Discovery::Offer> V4L2Discovery::offers(V4L2Io& io, int fd)
{
    std::vector<Offer> found;
    for (std::uint32_t formatIndex = 0;; ++formatIndex) {
        v4l2_fmtdesc description {};
        description.index = formatIndex;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_ENUM_FMT, &description) != 0)
            break;
        Offer offer { description.pixelformat, (description.flags & V4L2_FMT_FLAG_EMULATED) != 0, {} };
        for (std::uint32_t sizeIndex = 0;; ++sizeIndex) {
            v4l2_frmsizeenum size {};
            size.index = sizeIndex;
            size.pixel_format = description.pixelformat;
            if (io.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) != 0)
                break;
            if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(offer.sizes, { int(size.discrete.width), int(size.discrete.height) });
                continue;
            }
            // A range: offer the usual sizes that fit it, then its largest.
            const auto& range = size.stepwise;
            for (CameraFormat common : { CameraFormat { 640, 360 }, CameraFormat { 640, 480 },
                     CameraFormat { 1280, 720 }, CameraFormat { 1920, 1080 } }) {
                auto fits
                    = [](std::uint32_t value, std::uint32_t low, std::uint32_t high, std::uint32_t step) {
                          return value >= low && value <= high && (step <= 1 || (value - low) % step == 0);
                      };
                if (fits(common.width, range.min_width, range.max_width, range.step_width)
                    && fits(common.height, range.min_height, range.max_height, range.step_height))
                    add(offer.sizes, common);
            }
            add(offer.sizes, { int(range.max_width), int(range.max_height) });
            break; // a range is the only entry
        }
        found.push_back(std::move(offer));
    }
    return found;
}

std::vector<CameraFormat> V4L2Discovery::sizes(V4L2Io& io, int fd)
{
    std::vector<CameraFormat> found;
    for (const auto& offer : offers(io, fd))
        for (const auto& size : offer.sizes)
            add(found, size);
    return found;
}

std::optional<double> V4L2Discovery::period(
    V4L2Io& io, int fd, std::uint32_t pixelFormat, CameraFormat size, double minimumRate)
{
    const double longest = 1.0 / minimumRate;
    std::optional<double> best;
    for (std::uint32_t index = 0;; ++index) {
        v4l2_frmivalenum interval {};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = std::uint32_t(size.width);
        interval.height = std::uint32_t(size.height);
        if (io.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &interval) != 0)
            break;
        auto seconds = [](const v4l2_fract& fraction) {
            return fraction.denominator ? double(fraction.numerator) / fraction.denominator : 0.0;
        };
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            const double candidate = seconds(interval.discrete);
            // Within a microsecond of the limit counts as at the limit (1001/30000 style fractions).
            if (candidate > 0 && candidate <= longest + 1e-6 && (!best || candidate > *best))
                best = candidate;
            continue;
        }
        const double shortest = seconds(interval.stepwise.min);
        if (shortest > 0 && shortest <= longest + 1e-6)
            best = std::min(longest, seconds(interval.stepwise.max));
        break; // a range is the only entry
    }
    return best;
}

std::vector<CameraDevice> V4L2Discovery::discover(
    V4L2Io& io, const fs::path& devRoot, const fs::path& sysfsRoot)
{
    std::map<int, std::string> nodes; // ordered by number, as the system numbers them
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(devRoot, error)) {
        std::string name = entry.path().filename().string();
        if (int number = videoNumber(name); number >= 0)
            nodes.emplace(number, name);
    }

    std::vector<CameraDevice> cameras;
    std::map<std::string, int> seen;
    auto uniqueName = [&seen](const std::string& card) {
        int count = ++seen[card];
        return count > 1 ? card + " (" + std::to_string(count) + ")" : card;
    };
    for (const auto& [number, node] : nodes) {
        std::string path = (devRoot / node).string();
        int fd = io.open(path, O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            const int refusal = errno;
            // Refused: list the device's first node under the name sysfs gives it, so that opening it
            // reports the missing permission instead of a camera that is not there.
            const fs::path entry = sysfsRoot / "class" / "video4linux" / node;
            std::string sysName = firstLine(entry / "name");
            if ((refusal == EACCES || refusal == EPERM) && !sysName.empty()
                && firstLine(entry / "index") == "0")
                cameras.push_back({ uniqueName(sysName), path, isBuiltIn(sysfsRoot, node) });
            continue;
        }
        v4l2_capability capability {};
        int result = io.ioctl(fd, VIDIOC_QUERYCAP, &capability);
        io.close(fd);
        if (result != 0)
            continue;
        std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps
                                                                              : capability.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
            continue;
        std::string card(reinterpret_cast<const char*>(capability.card),
            strnlen(reinterpret_cast<const char*>(capability.card), sizeof capability.card));
        if (card.empty())
            card = node;
        cameras.push_back({ uniqueName(card), path, isBuiltIn(sysfsRoot, node) });
    }
    return cameras;
}

} // namespace vardel
