#include "V4L2CameraSource.h"

#include "Error.h"
#include "RecordingSink.h"
#include "SerialQueue.h"
#include "Thumbnail.h"
#include "V4L2Discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/videodev2.h>
#include <map>
#include <sys/mman.h>
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
            std::string card;
            std::uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            int openErrno = 0;
            int reqbufsErrno = 0;
            // pixel format -> discrete sizes
            std::vector<std::pair<std::uint32_t, std::vector<CameraFormat>>> formats;
            std::optional<v4l2_frmsize_stepwise> range;
            std::uint32_t emulated = 0; // a format listed as converted by libv4l2
            // Streaming: pictures played once, 1/30 s apart, whatever rate is asked for.
            std::vector<std::string> pictures;
            std::uint32_t quantization = V4L2_QUANTIZATION_DEFAULT;
            std::vector<v4l2_fract> periods;
        };
        std::map<std::string, Node> nodes; // by path
        FakeV4L2Io() = default;
        FakeV4L2Io(const FakeV4L2Io& other)
            : nodes(other.nodes)
        {
        }
        std::vector<CameraFormat> sizesAsked;
        std::vector<std::uint32_t> formatsAsked;
        double periodAsked = 0;
        int openCount = 0;
        int closeCount = 0;

        int open(const std::string& path, int) override
        {
            auto found = nodes.find(path);
            if (found == nodes.end() || found->second.openErrno) {
                errno = found == nodes.end() ? ENOENT : found->second.openErrno;
                return -1;
            }
            ++openCount;
            int fd = 100 + int(m_open.size());
            m_open[fd] = &found->second;
            return fd;
        }

        int close(int fd) override
        {
            ++closeCount;
            m_open.erase(fd);
            return 0;
        }

        int ioctl(int fd, unsigned long request, void* argument) override
        {
            Node& node = *m_open.at(fd);
            switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* capability = static_cast<v4l2_capability*>(argument);
                std::memcpy(capability->card, node.card.c_str(),
                    std::min(node.card.size(), sizeof capability->card - 1));
                capability->capabilities = node.deviceCaps | V4L2_CAP_DEVICE_CAPS | V4L2_CAP_META_CAPTURE;
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
                    if (size->index > 0)
                        return fail(EINVAL);
                    size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    size->stepwise = *node.range;
                    return 0;
                }
                for (const auto& [pixelFormat, sizes] : node.formats) {
                    if (pixelFormat != size->pixel_format)
                        continue;
                    if (size->index >= sizes.size())
                        return fail(EINVAL);
                    size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                    size->discrete = { std::uint32_t(sizes[size->index].width),
                        std::uint32_t(sizes[size->index].height) };
                    return 0;
                }
                return fail(EINVAL);
            }
            case VIDIOC_G_FMT: {
                auto* format = static_cast<v4l2_format*>(argument);
                format->fmt.pix.width = 640;
                format->fmt.pix.height = 480;
                return 0;
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
                if (interval->index >= node.periods.size())
                    return fail(EINVAL);
                interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                interval->discrete = node.periods[interval->index];
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
                m_memory.assign(4, std::string(3 << 20, '\0'));
                return 0;
            case VIDIOC_QUERYBUF: {
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                buffer->length = std::uint32_t(m_memory[buffer->index].size());
                buffer->m.offset = buffer->index;
                return 0;
            }
            case VIDIOC_QBUF:
                m_queued.push_back(static_cast<v4l2_buffer*>(argument)->index);
                return 0;
            case VIDIOC_DQBUF: {
                if (m_queued.empty() || m_played >= node.pictures.size())
                    return fail(EAGAIN);
                auto* buffer = static_cast<v4l2_buffer*>(argument);
                buffer->index = m_queued.front();
                m_queued.pop_front();
                const std::string& picture = node.pictures[m_played];
                std::copy(picture.begin(), picture.end(), m_memory[buffer->index].begin());
                buffer->bytesused = std::uint32_t(picture.size());
                buffer->timestamp = { 1000 + long(m_played / 30), long(m_played % 30 * 1e6 / 30) };
                ++m_played;
                return 0;
            }
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
        bool drained() const { return m_open.empty() || m_played >= m_open.begin()->second->pictures.size(); }

    private:
        static int fail(int code)
        {
            errno = code;
            return -1;
        }
        std::map<int, Node*> m_open;
        std::vector<std::string> m_memory;
        std::deque<std::uint32_t> m_queued;
        std::atomic<std::size_t> m_played = 0;
    };

    // A /dev folder and a sysfs tree laid out as the kernel does, in a temporary folder.
    class V4L2Test : public ::testing::Test {
    protected:
        V4L2Test()
        {
            m_root = fs::temp_directory_path() / ("v4l2-test-" + std::to_string(::getpid()));
            fs::remove_all(m_root);
            fs::create_directories(dev());
            fs::create_directories(sys() / "class" / "video4linux");
        }
        ~V4L2Test() override { fs::remove_all(m_root); }

        fs::path dev() const { return m_root / "dev"; }
        fs::path sys() const { return m_root / "sys"; }

        // A node /dev/<node> whose sysfs device is `devicePath` (under sys/devices); with a USB port
        // attribute when `removable` is given.
        void addNode(const std::string& node, FakeV4L2Io::Node answers, const std::string& devicePath,
            std::optional<std::string> usbPort = std::nullopt,
            std::optional<std::string> removable = std::nullopt)
        {
            std::ofstream(dev() / node).put('\n');
            fs::path device = sys() / "devices" / devicePath;
            fs::create_directories(device);
            if (usbPort) {
                fs::path port = sys() / "devices" / *usbPort;
                std::ofstream(port / "idVendor") << "046d\n";
                if (removable)
                    std::ofstream(port / "removable") << *removable << "\n";
            }
            fs::path classEntry = sys() / "class" / "video4linux" / node;
            fs::create_directories(classEntry);
            fs::create_symlink(fs::relative(device, classEntry), classEntry / "device");
            m_io.nodes[(dev() / node).string()] = std::move(answers);
        }

        fs::path m_root;
        FakeV4L2Io m_io;
    };

    TEST_F(V4L2Test, DiscoveryKeepsCaptureNodesInNumberOrderWithUniqueNamesAndBuiltInFromSysfs)
    {
        std::string usb = "pci0000:00/0000:00:14.0/usb1/";
        addNode("video10", { .card = "Integrated IR" }, "platform/ipu6/isys");
        addNode("video0", { .card = "HD Webcam" }, usb + "1-5/1-5:1.0", usb + "1-5", "fixed");
        addNode("video1", { .card = "HD Webcam", .deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING },
            usb + "1-5/1-5:1.1", usb + "1-5", "fixed");
        addNode("video2", { .card = "HD Webcam" }, usb + "1-2/1-2:1.0", usb + "1-2", "removable");
        addNode("video4", { .card = "Busy Cam", .openErrno = EBUSY }, usb + "1-3/1-3:1.0", usb + "1-3",
            "unknown");
        addNode("video6", { .card = "Hub Cam" }, usb + "1-4/1-4.1/1-4.1:1.0", usb + "1-4/1-4.1", "unknown");
        std::ofstream(dev() / "videoX").put('\n');
        std::ofstream(dev() / "media0").put('\n');

        auto cameras = V4L2Discovery::discover(m_io, dev(), sys());

        std::vector<CameraDevice> expected {
            { "HD Webcam", (dev() / "video0").string(), true },
            { "HD Webcam (2)", (dev() / "video2").string(), false },
            { "Hub Cam", (dev() / "video6").string(), false },
            { "Integrated IR", (dev() / "video10").string(), true },
        };
        EXPECT_EQ(cameras, expected);
        EXPECT_EQ(m_io.openCount, m_io.closeCount);
        EXPECT_TRUE(V4L2Discovery::discover(m_io, m_root / "missing", sys()).empty());
        EXPECT_FALSE(V4L2Discovery::isBuiltIn(sys(), "video99"));
    }

    TEST_F(V4L2Test, SizesMergeAllPixelFormatsAndRangesOfferTheUsualSizes)
    {
        addNode("video0",
            { .card = "Cam",
                .formats = { { kMjpeg, { { 1280, 720 }, { 1920, 1080 }, { 640, 480 } } },
                    { kYuyv, { { 640, 480 }, { 320, 240 } } } } },
            "platform/cam");
        addNode("video1",
            { .card = "Range", .formats = { { kYuyv, {} } }, .range = { { 160, 1280, 16, 120, 720, 8 } } },
            "platform/range");
        int fd = m_io.open((dev() / "video0").string(), 0);
        EXPECT_EQ(V4L2Discovery::sizes(m_io, fd),
            (std::vector<CameraFormat> { { 1280, 720 }, { 1920, 1080 }, { 640, 480 }, { 320, 240 } }));
        int rangeFd = m_io.open((dev() / "video1").string(), 0);
        EXPECT_EQ(V4L2Discovery::sizes(m_io, rangeFd),
            (std::vector<CameraFormat> { { 640, 360 }, { 640, 480 }, { 1280, 720 } }));
    }

    TEST_F(V4L2Test, OpeningAsksForThePresetAndFailuresAreReportedWithTheirKind)
    {
        addNode("video0", { .card = "Busy", .openErrno = EBUSY }, "platform/a");
        addNode("video1", { .card = "Output", .deviceCaps = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING },
            "platform/b");
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
        std::ofstream(sys() / "class/video4linux/video4/name") << "Locked\n";
        std::ofstream(sys() / "class/video4linux/video4/index") << "0\n";
        auto io = std::make_unique<FakeV4L2Io>(m_io);
        FakeV4L2Io& fake = *io;
        V4L2CameraSource source(std::move(io), dev(), sys());
        SerialQueue queue("test.video");
        test::RecordingSink sink;

        // A node that cannot be opened is not listed, nor one that does not capture.
        std::vector<std::pair<CameraOpenFailure, std::string>> failures;
        for (const CameraDevice& camera : source.devices()) {
            try {
                source.start(camera, queue, sink);
                ADD_FAILURE() << camera.name;
            } catch (const Error& error) {
                failures.emplace_back(CameraOpenFailure(error.code()), camera.name + " " + error.description());
            }
        }
        const auto video = [&](int n) { return (dev() / ("video" + std::to_string(n))).string(); };
        EXPECT_EQ(failures,
            (std::vector<std::pair<CameraOpenFailure, std::string>> {
                { CameraOpenFailure::other, "NoMemory " + video(2) + ": Cannot allocate memory" },
                { CameraOpenFailure::busy, "InUse " + video(3) + ": Device or resource busy" },
                { CameraOpenFailure::permissionDenied, "Locked " + video(4) + ": Permission denied" } }));
        EXPECT_EQ(fake.sizesAsked, (std::vector<CameraFormat> { { 1280, 720 }, { 1280, 720 } }));
        EXPECT_EQ(fake.formatsAsked, (std::vector<std::uint32_t> { V4L2_PIX_FMT_YUV420, kMjpeg }));
        EXPECT_EQ(fake.openCount, fake.closeCount);
    }

    std::string slurp(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        return { std::istreambuf_iterator<char>(in), {} };
    }

    struct StreamCase {
        const char* name;
        std::uint32_t fourcc;
        const char* ffmpegFormat; // empty: JPEG pictures
        bool limited;
    };
    void PrintTo(const StreamCase& camera, std::ostream* out) { *out << camera.name; }

    // One second of real footage as a 30 fps 1280x720 camera in each format the source keeps natively.
    class V4L2StreamTest : public V4L2Test, public ::testing::WithParamInterface<StreamCase> {
    protected:
        static constexpr int kWidth = 1280, kHeight = 720, kPictures = 30;
        static constexpr std::size_t kPlanes = std::size_t(kWidth) * kHeight * 3 / 2;

        fs::path folder() const { return m_root / "stream"; }
        bool ffmpeg(const std::string& arguments) const
        {
            return std::system(("cd '" + folder().string() + "' && ffmpeg -v error -y " + arguments).c_str())
                == 0;
        }

        // The camera's pictures: footage, then for raw formats a black and a white picture at the levels
        // of the range, at 24 and 27.
        std::vector<std::string> cameraPictures(const StreamCase& camera)
        {
            std::vector<std::string> pictures;
            const std::string raw = "-f rawvideo -pix_fmt yuvj420p -s 1280x720 -i reference.yuv ";
            if (!*camera.ffmpegFormat) {
                if (!ffmpeg(raw + "-pix_fmt yuvj422p -q:v 4 -f image2 p%02d.jpg"))
                    return {};
                for (int index = 1; index <= kPictures; ++index) {
                    char name[16];
                    std::snprintf(name, sizeof name, "p%02d.jpg", index);
                    pictures.push_back(slurp(folder() / name));
                }
                return pictures;
            }
            if (!ffmpeg(raw + "-vf scale=out_range=" + (camera.limited ? "tv" : "pc") + " -pix_fmt "
                    + camera.ffmpegFormat + " -f rawvideo camera.raw"))
                return {};
            const std::string all = slurp(folder() / "camera.raw");
            const std::size_t size = all.size() / kPictures;
            for (int index = 0; index < kPictures; ++index)
                pictures.push_back(all.substr(index * size, size));
            const bool yuyv = camera.fourcc == kYuyv;
            for (auto [index, level] :
                { std::pair { 24, camera.limited ? 16 : 0 }, { 27, camera.limited ? 235 : 255 } })
                for (std::size_t at = 0; at < size; ++at)
                    pictures[index][at] = char(yuyv              ? (at % 2 ? 128 : level)
                            : at < std::size_t(kWidth) * kHeight ? level
                                                                 : 128);
            return pictures;
        }
    };

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

    TEST_P(V4L2StreamTest, TenPicturesASecondWithDamagedOnesDroppedAndPixelsDecodedOnlyWhenAsked)
    {
        const StreamCase& camera = GetParam();
        const char* footage = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
        fs::create_directories(folder());
        if (!fs::exists(footage) || std::system("command -v ffmpeg >/dev/null") != 0)
            GTEST_SKIP() << "needs ffmpeg and the OpenCV sample footage";
        ASSERT_TRUE(ffmpeg(std::string("-i ") + footage
            + " -frames:v 30 -vf scale=1280:720:out_range=pc,fps=30 -pix_fmt yuvj420p -f rawvideo "
              "reference.yuv"));
        const std::string reference = slurp(folder() / "reference.yuv");
        auto pictures = cameraPictures(camera);
        ASSERT_EQ(pictures.size(), std::size_t(kPictures));
        // Damage two pictures the thinner takes: one cut short, one with its middle overwritten.
        pictures[3].resize(pictures[3].size() / 2);
        std::fill_n(pictures[12].begin() + pictures[12].size() / 3, pictures[12].size() / 3, '\x55');
        if (camera.fourcc != kMjpeg)
            pictures[12].resize(100);

        addNode("video0",
            { .card = "Cam",
                .formats
                = { { V4L2_PIX_FMT_YUV420, { { 1280, 720 } } }, { camera.fourcc, { { 1280, 720 } } } },
                .pictures = pictures,
                .quantization = camera.limited ? V4L2_QUANTIZATION_LIM_RANGE : V4L2_QUANTIZATION_FULL_RANGE,
                .periods = { { 1, 30 }, { 1, 15 }, { 1, 10 }, { 1, 5 } } },
            "platform/cam");
        auto io = std::make_unique<FakeV4L2Io>(m_io);
        FakeV4L2Io& fake = *io;
        V4L2CameraSource source(std::move(io), dev(), sys());
        SerialQueue queue("test.video");
        test::RecordingSink sink;
        source.start(source.devices().at(0), queue, sink);
        for (int wait = 0; wait < 2000 && !fake.drained(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        source.stop();

        EXPECT_EQ(fake.formatsAsked, std::vector { camera.fourcc });
        EXPECT_NEAR(fake.periodAsked, 0.1, 1e-6);
        const std::vector<Frame>& frames = sink.frames;
        ASSERT_EQ(frames.size(), 8u); // ten a second, less the two damaged ones
        EXPECT_EQ(source.counters().damaged, 2u);
        EXPECT_EQ(source.counters().fullDecodes, 0u);
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
            if (camera.fourcc != kMjpeg && (index == 24 || index == 27)) {
                const int level = index == 24 ? 0 : 255;
                EXPECT_EQ(planes.data(0)[kWidth * 300 + 600], level);
                EXPECT_NEAR(thumbnail[96 * 20 + 40], level, 1);
                EXPECT_EQ(planes.data(1)[640 * 100 + 100], 128);
                continue;
            }
            const auto* source420 = reinterpret_cast<const std::uint8_t*>(reference.data()) + index * kPlanes;
            const double tolerance = camera.fourcc == kMjpeg ? 2.0 : 0.6;
            EXPECT_LT(meanDifference(planes.data(0), planes.stride(0), source420, kWidth, kWidth, kHeight),
                tolerance);
            const int step = planes.format() == PixelFormat::nv12 ? 2 : 1; // blue-difference samples
            EXPECT_LT(meanDifference(planes.data(1), planes.stride(1), source420 + kWidth * kHeight,
                          kWidth / 2, kWidth / 2, kHeight / 2, step),
                2 * tolerance);
        }
        EXPECT_EQ(source.counters().fullDecodes, frames.size()); // once each, however often asked
    }

    INSTANTIATE_TEST_SUITE_P(Cameras, V4L2StreamTest,
        ::testing::Values(StreamCase { "Mjpeg", kMjpeg, "", false },
            StreamCase { "YuyvLimited", kYuyv, "yuyv422", true },
            StreamCase { "YuyvFull", kYuyv, "yuyv422", false },
            StreamCase { "Nv12Limited", V4L2_PIX_FMT_NV12, "nv12", true },
            StreamCase { "Nv12Full", V4L2_PIX_FMT_NV12, "nv12", false }),
        [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vardel
