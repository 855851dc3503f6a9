#include "V4L2CameraSource.h"

#include "Error.h"
#include "OutboxFolder.h"
#include "RecordingSink.h"
#include "SerialQueue.h"
#include "Thumbnail.h"
#include "V4L2Discovery.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/videodev2.h>
#include <map>
#include <thread>

namespace vardel {
namespace {

    namespace fs = std::filesystem;

    const std::uint32_t kMjpeg = V4L2_PIX_FMT_MJPEG;
    const std::uint32_t kYuyv = V4L2_PIX_FMT_YUYV;

    // A scripted set of V4L2 nodes: answers the ioctls discovery and opening use, records what was asked.
    class FakeV4L2Io final : public V4L2Io {
    public:
        struct Node {
            std::string card {};
            std::uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            int openErrno = 0;
            int reqbufsErrno = 0;
            std::vector<std::pair<std::uint32_t, std::vector<CameraFormat>>> formats {}; // discrete sizes
            std::optional<v4l2_frmsize_stepwise> range {};
            std::uint32_t emulated = 0; // a format listed as converted by libv4l2
            std::vector<std::string> pictures {}; // played once, 1/30 s apart, whatever rate is asked for
            std::uint32_t quantization = V4L2_QUANTIZATION_DEFAULT;
        };
        std::map<std::string, Node> nodes; // by path
        std::vector<CameraFormat> sizesAsked;
        std::vector<std::uint32_t> formatsAsked;
        double periodAsked = 0;

        int open(const std::string& path, int) override
        {
            auto found = nodes.find(path);
            if (found == nodes.end() || found->second.openErrno)
                return fail(found == nodes.end() ? ENOENT : found->second.openErrno);
            int fd = 100 + int(m_open.size());
            m_open[fd] = &found->second;
            return fd;
        }

        int close(int fd) override { return m_open.erase(fd) == 1 ? 0 : fail(EBADF); }

        int ioctl(int fd, unsigned long request, void* argument) override
        {
            Node& node = *m_open.at(fd);
            switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* capability = static_cast<v4l2_capability*>(argument);
                std::strncpy(reinterpret_cast<char*>(capability->card), node.card.c_str(), 31);
                // The whole device's capabilities, as a metadata node of a camera reports them too.
                capability->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
                capability->device_caps = node.deviceCaps;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* description = static_cast<v4l2_fmtdesc*>(argument);
                if (description->index >= node.formats.size())
                    return fail(EINVAL);
                description->pixelformat = node.formats[description->index].first;
                description->flags = description->pixelformat == node.emulated ? V4L2_FMT_FLAG_EMULATED : 0;
                return 0;
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* size = static_cast<v4l2_frmsizeenum*>(argument);
                if (node.range) {
                    size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    size->stepwise = *node.range;
                    return size->index > 0 ? fail(EINVAL) : 0;
                }
                for (const auto& [pixelFormat, sizes] : node.formats)
                    if (pixelFormat == size->pixel_format && size->index < sizes.size()) {
                        size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                        const CameraFormat& found = sizes[size->index];
                        size->discrete = { std::uint32_t(found.width), std::uint32_t(found.height) };
                        return 0;
                    }
                return fail(EINVAL);
            }
            case VIDIOC_S_FMT: {
                auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
                sizesAsked.push_back({ int(pix.width), int(pix.height) });
                formatsAsked.push_back(pix.pixelformat);
                pix.bytesperline = pix.pixelformat == kYuyv ? 2 * pix.width : pix.width;
                pix.sizeimage = 2 * pix.bytesperline * pix.height;
                pix.priv = V4L2_PIX_FMT_PRIV_MAGIC;
                pix.quantization = node.quantization;
                return 0;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* interval = static_cast<v4l2_frmivalenum*>(argument);
                const v4l2_fract periods[] = { { 1, 30 }, { 1, 15 }, { 1, 10 }, { 1, 5 } };
                if (interval->index >= std::size(periods))
                    return fail(EINVAL);
                interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                interval->discrete = periods[interval->index];
                return 0;
            }
            case VIDIOC_S_PARM: {
                const auto& period = static_cast<v4l2_streamparm*>(argument)->parm.capture.timeperframe;
                periodAsked = double(period.numerator) / period.denominator;
                return 0;
            }
            case VIDIOC_REQBUFS:
                if (node.reqbufsErrno)
                    return fail(node.reqbufsErrno);
                static_cast<v4l2_requestbuffers*>(argument)->count = 4;
                m_memory.assign(4, std::string(1 << 20, '\0'));
                return 0;
            case VIDIOC_QUERYBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                buffer->length = std::uint32_t(m_memory[buffer->index].size());
                buffer->m.offset = buffer->index;
                return 0;
            }
            case VIDIOC_DQBUF: {
                if (m_played >= node.pictures.size())
                    return fail(EAGAIN);
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                buffer->index = m_played % 4; // the source queues each buffer again at once
                const std::string& picture = node.pictures[m_played];
                std::copy(picture.begin(), picture.end(), m_memory[buffer->index].begin());
                buffer->bytesused = std::uint32_t(picture.size());
                buffer->timestamp = { 1000 + long(m_played / 30), long(m_played % 30 * 1e6 / 30) };
                ++m_played;
                return 0;
            }
            case VIDIOC_G_FMT:
            case VIDIOC_QBUF:
            case VIDIOC_STREAMON:
            case VIDIOC_STREAMOFF:
                return 0;
            default:
                return fail(ENOTTY);
            }
        }

        void* map(int, std::size_t, off_t offset) override { return m_memory.at(std::size_t(offset)).data(); }
        int unmap(void*, std::size_t) override { return 0; }
        int wait(int, double) override
        {
            if (!drained())
                return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return 0;
        }
        std::size_t openNodes() const { return m_open.size(); }
        bool drained() const { return m_open.empty() || m_played >= m_open.begin()->second->pictures.size(); }

    private:
        static int fail(int code)
        {
            errno = code;
            return -1;
        }
        std::map<int, Node*> m_open;
        std::vector<std::string> m_memory;
        std::atomic<std::size_t> m_played = 0;
    };

    // A /dev folder and a sysfs tree laid out as the kernel does, in a temporary folder.
    class V4L2Test : public ::testing::Test {
    protected:
        V4L2Test() { fs::create_directories(m_dev); }

        // A node /dev/<node> whose sysfs device is `devicePath` (under sys/devices); an interface of the
        // USB device above it, which has this "removable" attribute, when `removable` is given.
        void addNode(const std::string& node, FakeV4L2Io::Node answers, const std::string& devicePath,
            const std::string& removable = "")
        {
            std::ofstream(m_dev / node).put('\n');
            fs::path device = m_sys / "devices" / devicePath;
            fs::create_directories(device);
            if (!removable.empty()) {
                std::ofstream(device.parent_path() / "idVendor") << "046d\n";
                std::ofstream(device.parent_path() / "removable") << removable << "\n";
            }
            fs::path classEntry = m_sys / "class" / "video4linux" / node;
            fs::create_directories(classEntry);
            fs::create_symlink(fs::relative(device, classEntry), classEntry / "device");
            m_io.nodes[(m_dev / node).string()] = std::move(answers);
        }

        // A source over the nodes added since the last one; `fake` is the io it owns.
        V4L2CameraSource source(FakeV4L2Io*& fake)
        {
            auto io = std::make_unique<FakeV4L2Io>();
            io->nodes = std::exchange(m_io.nodes, {});
            fake = io.get();
            return V4L2CameraSource(std::move(io), m_dev, m_sys);
        }

        bool ffmpeg(const std::string& arguments) const
        {
            return std::system(("cd '" + m_root.string() + "' && ffmpeg -v error -y " + arguments).c_str())
                == 0;
        }

        test::OutboxFolder m_folder;
        const fs::path m_root = m_folder.root(), m_dev = m_root / "dev", m_sys = m_root / "sys";
        FakeV4L2Io m_io;
    };

    TEST_F(V4L2Test, DiscoveryKeepsCaptureNodesInNumberOrderWithUniqueNamesAndBuiltInFromSysfsAndTheirSizes)
    {
        std::string usb = "pci0000:00/0000:00:14.0/usb1/";
        addNode("video10", { .card = "Integrated IR" }, "platform/ipu6/isys");
        addNode("video0",
            { .card = "HD Webcam",
                .formats = { { kMjpeg, { { 1280, 720 }, { 1920, 1080 }, { 640, 480 } } },
                    { kYuyv, { { 640, 480 }, { 320, 240 } } } } },
            usb + "1-5/1-5:1.0", "fixed");
        addNode("video1", { .card = "HD Webcam", .deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING },
            usb + "1-5/1-5:1.1", "fixed");
        addNode("video2", { .card = "HD Webcam" }, usb + "1-2/1-2:1.0", "removable");
        addNode("video4", { .card = "Busy Cam", .openErrno = EBUSY }, usb + "1-3/1-3:1.0", "unknown");
        addNode("video6",
            { .card = "Hub Cam", .formats = { { kYuyv, {} } }, .range = { { 160, 1280, 16, 120, 960, 8 } } },
            usb + "1-4/1-4.1/1-4.1:1.0", "unknown");
        std::ofstream(m_dev / "videoX").put('\n');
        std::ofstream(m_dev / "media0").put('\n');

        auto cameras = V4L2Discovery::discover(m_io, m_dev, m_sys);

        std::vector<CameraDevice> expected {
            { "HD Webcam", (m_dev / "video0").string(), true },
            { "HD Webcam (2)", (m_dev / "video2").string(), false },
            { "Hub Cam", (m_dev / "video6").string(), false },
            { "Integrated IR", (m_dev / "video10").string(), true },
        };
        EXPECT_EQ(cameras, expected);
        EXPECT_EQ(m_io.openNodes(), 0u);
        EXPECT_TRUE(V4L2Discovery::discover(m_io, m_root / "missing", m_sys).empty());
        EXPECT_FALSE(V4L2Discovery::isBuiltIn(m_sys, "video99"));
        // Sizes merge every pixel format's; a range offers the usual sizes within it and its largest.
        EXPECT_EQ(V4L2Discovery::sizes(m_io, m_io.open(expected[0].id, 0)),
            (std::vector<CameraFormat> { { 1280, 720 }, { 1920, 1080 }, { 640, 480 }, { 320, 240 } }));
        EXPECT_EQ(V4L2Discovery::sizes(m_io, m_io.open(expected[2].id, 0)),
            (std::vector<CameraFormat> { { 640, 360 }, { 640, 480 }, { 1280, 720 }, { 1280, 960 } }));
    }

    TEST_F(V4L2Test, OpeningAsksForThePresetAndFailuresAreReportedWithTheirKind)
    {
        // Nothing native we read at 1280x720: libv4l2 converts to planar 4:2:0.
        addNode("video2",
            { .card = "NoMemory",
                .reqbufsErrno = ENOMEM,
                .formats = { { kMjpeg, { { 1280, 720 } } }, { V4L2_PIX_FMT_RGB24, { { 1280, 720 } } } },
                .emulated = kMjpeg },
            "platform/c");
        addNode("video3",
            { .card = "InUse",
                .reqbufsErrno = EBUSY,
                .formats = { { kYuyv, { { 1280, 720 } } }, { kMjpeg, { { 1920, 1080 }, { 1280, 720 } } } } },
            "platform/d");
        addNode("video4", { .openErrno = EACCES }, "platform/e");
        std::ofstream(m_sys / "class/video4linux/video4/name") << "Locked\n";
        std::ofstream(m_sys / "class/video4linux/video4/index") << "0\n";
        FakeV4L2Io* fake = nullptr;
        V4L2CameraSource cameras = source(fake);
        SerialQueue queue("test.video");
        test::RecordingSink sink;

        std::vector<std::pair<CameraOpenFailure, std::string>> failures;
        for (const CameraDevice& camera : cameras.devices()) {
            try {
                cameras.start(camera, queue, sink);
                ADD_FAILURE() << camera.name;
            } catch (const Error& error) {
                failures.emplace_back(
                    CameraOpenFailure(error.code()), camera.name + " " + error.description());
            }
        }
        const auto video = [&](int n) { return (m_dev / ("video" + std::to_string(n))).string(); };
        EXPECT_EQ(failures,
            (std::vector<std::pair<CameraOpenFailure, std::string>> {
                { CameraOpenFailure::other, "NoMemory " + video(2) + ": Cannot allocate memory" },
                { CameraOpenFailure::busy, "InUse " + video(3) + ": Device or resource busy" },
                { CameraOpenFailure::permissionDenied, "Locked " + video(4) + ": Permission denied" } }));
        EXPECT_EQ(fake->sizesAsked, (std::vector<CameraFormat> { { 1280, 720 }, { 1280, 720 } }));
        EXPECT_EQ(fake->formatsAsked, (std::vector<std::uint32_t> { V4L2_PIX_FMT_YUV420, kMjpeg }));
        EXPECT_EQ(fake->openNodes(), 0u);
    }

    // Mean absolute difference of two planes; `step` bytes between the samples of `a`.
    double meanDifference(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int width,
        int height, int step = 1)
    {
        double sum = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                sum += std::abs(a[y * strideA + x * step] - b[y * strideB + x]);
        return sum / (double(width) * height);
    }

    // Half a second of real footage from a 30 fps 640x360 camera in each format the source keeps natively.
    TEST_F(V4L2Test, TenPicturesASecondWithDamagedOnesDroppedAndPixelsDecodedOnlyWhenAsked)
    {
        constexpr int kWidth = 640, kHeight = 360, kPictures = 15;
        constexpr std::size_t kPlanes = std::size_t(kWidth) * kHeight * 3 / 2;
        const char* footage = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
        if (!fs::exists(footage) || std::system("command -v ffmpeg >/dev/null") != 0)
            GTEST_SKIP() << "needs ffmpeg and the OpenCV sample footage";
        ASSERT_TRUE(ffmpeg(std::string("-i ") + footage
            + " -frames:v 15 -vf scale=640:360:out_range=pc,fps=30 -pix_fmt yuvj420p -f rawvideo "
              "reference.yuv"));
        const std::string reference = test::OutboxFolder::read(m_root / "reference.yuv");

        int node = 0;
        for (const auto& [name, fourcc, ffmpegFormat, limited] :
            { std::tuple { "Mjpeg", kMjpeg, "yuvj422p -q:v 2 -f mjpeg", false },
                { "YuyvLimited", kYuyv, "yuyv422 -f rawvideo", true },
                { "Nv12Limited", V4L2_PIX_FMT_NV12, "nv12 -f rawvideo", true },
                { "Nv12Full", V4L2_PIX_FMT_NV12, "nv12 -f rawvideo", false } }) {
            SCOPED_TRACE(name);
            ASSERT_TRUE(ffmpeg(
                std::string("-f rawvideo -pix_fmt yuvj420p -s 640x360 -i reference.yuv -vf scale=out_range=")
                + (limited ? "tv" : "pc") + " -pix_fmt " + ffmpegFormat + " camera.raw"));
            const std::string all = test::OutboxFolder::read(m_root / "camera.raw");
            std::vector<std::string> pictures; // JPEG pictures each start with a marker, raw ones are alike
            for (std::size_t at = 0; at < all.size();) {
                const std::size_t next
                    = fourcc == kMjpeg ? all.find("\xFF\xD8\xFF", at + 1) : at + all.size() / kPictures;
                pictures.push_back(all.substr(at, next - at));
                at = next;
            }
            ASSERT_EQ(pictures.size(), std::size_t(kPictures));
            // Damage two pictures the thinner takes: one cut short, one with its middle overwritten.
            pictures[3].resize(pictures[3].size() / 2);
            std::fill_n(pictures[12].begin() + pictures[12].size() / 3, pictures[12].size() / 3, '\x55');
            if (fourcc != kMjpeg)
                pictures[12].resize(100);

            addNode("video" + std::to_string(node++),
                { .card = "Cam",
                    .formats = { { V4L2_PIX_FMT_YUV420, { { kWidth, kHeight } } },
                        { fourcc, { { kWidth, kHeight } } } },
                    .pictures = pictures,
                    .quantization = limited ? V4L2_QUANTIZATION_LIM_RANGE : V4L2_QUANTIZATION_FULL_RANGE },
                std::string("platform/") + name);
            FakeV4L2Io* fake = nullptr;
            V4L2CameraSource stream = source(fake);
            SerialQueue queue("test.video");
            test::RecordingSink sink;
            stream.start(stream.devices().at(0), queue, sink);
            for (int wait = 0; wait < 2000 && !fake->drained(); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            stream.stop();

            EXPECT_EQ(fake->formatsAsked, std::vector { fourcc });
            EXPECT_NEAR(fake->periodAsked, 0.1, 1e-6);
            const std::vector<Frame>& frames = sink.frames;
            ASSERT_EQ(frames.size(), 3u); // ten a second, less the two damaged ones
            EXPECT_EQ(stream.counters().damaged, 2u);
            EXPECT_EQ(stream.counters().fullDecodes, 0u);
            Thumbnail scaler;
            for (const Frame& frame : frames) {
                const int index = int(std::lround((frame.time() - 1000) * 30));
                SCOPED_TRACE(index);
                ASSERT_TRUE(frame.encoded() && frame.pixels() == frame.pixels());
                const FrameBuffer& planes = *frame.pixels();
                std::vector<std::uint8_t> decoded;
                ASSERT_TRUE(scaler.scale(
                    planes.data(0), planes.stride(0), kWidth, kHeight, Thumbnail::Source::luma, decoded));
                const auto& thumbnail = *frame.encoded()->thumbnail();
                EXPECT_LT(meanDifference(thumbnail.data(), 96, decoded.data(), 96, 96, 54), 2.5);
                const auto* source420
                    = reinterpret_cast<const std::uint8_t*>(reference.data()) + index * kPlanes;
                const double tolerance = fourcc == kMjpeg ? 2.0 : 0.6;
                EXPECT_LT(
                    meanDifference(planes.data(0), planes.stride(0), source420, kWidth, kWidth, kHeight),
                    tolerance);
                const int step = planes.format() == PixelFormat::nv12 ? 2 : 1; // blue-difference samples
                EXPECT_LT(meanDifference(planes.data(1), planes.stride(1), source420 + kWidth * kHeight,
                              kWidth / 2, kWidth / 2, kHeight / 2, step),
                    2 * tolerance);
            }
            EXPECT_EQ(stream.counters().fullDecodes, frames.size()); // once each, however often asked
        }
    }

} // namespace
} // namespace vardel
