#include "V4L2CameraSource.h"

#include "CaptureService.h"
#include "Clock.h"
#include "Error.h"
#include "ManualMainExecutor.h"
#include "SerialQueue.h"
#include "V4L2Discovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/videodev2.h>
#include <map>
#include <sys/mman.h>

namespace vardel {
namespace {

    namespace fs = std::filesystem;

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
        };
        std::map<std::string, Node> nodes; // by path
        std::vector<CameraFormat> sizesAsked;
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
                auto* format = static_cast<v4l2_format*>(argument);
                sizesAsked.push_back({ int(format->fmt.pix.width), int(format->fmt.pix.height) });
                format->fmt.pix.bytesperline = format->fmt.pix.width;
                format->fmt.pix.sizeimage = format->fmt.pix.width * format->fmt.pix.height * 3 / 2;
                return 0;
            }
            case VIDIOC_G_PARM:
                return fail(ENOTTY);
            case VIDIOC_REQBUFS:
                return node.reqbufsErrno ? fail(node.reqbufsErrno) : 0;
            default:
                return fail(ENOTTY);
            }
        }

        void* map(int, std::size_t, off_t) override
        {
            errno = ENOMEM;
            return MAP_FAILED;
        }
        int unmap(void*, std::size_t) override { return 0; }

    private:
        static int fail(int code)
        {
            errno = code;
            return -1;
        }
        std::map<int, Node*> m_open;
    };

    FakeV4L2Io::Node node(std::string card, std::uint32_t caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
        int openErrno = 0, int reqbufsErrno = 0,
        std::vector<std::pair<std::uint32_t, std::vector<CameraFormat>>> formats = {},
        std::optional<v4l2_frmsize_stepwise> range = std::nullopt)
    {
        FakeV4L2Io::Node answers;
        answers.card = std::move(card);
        answers.deviceCaps = caps;
        answers.openErrno = openErrno;
        answers.reqbufsErrno = reqbufsErrno;
        answers.formats = std::move(formats);
        answers.range = range;
        return answers;
    }

    const std::uint32_t kMjpeg = V4L2_PIX_FMT_MJPEG;
    const std::uint32_t kYuyv = V4L2_PIX_FMT_YUYV;

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
        addNode("video10", node("Integrated IR"), "platform/ipu6/isys");
        addNode("video0", node("HD Webcam"), usb + "1-5/1-5:1.0", usb + "1-5", "fixed");
        addNode("video1", node("HD Webcam", V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING), usb + "1-5/1-5:1.1",
            usb + "1-5", "fixed");
        addNode("video2", node("HD Webcam"), usb + "1-2/1-2:1.0", usb + "1-2", "removable");
        addNode("video4", node("Busy Cam", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, EBUSY),
            usb + "1-3/1-3:1.0", usb + "1-3", "unknown");
        addNode("video6", node("Hub Cam"), usb + "1-4/1-4.1/1-4.1:1.0", usb + "1-4/1-4.1", "unknown");
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
        const std::uint32_t capture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        addNode("video0",
            node("Cam", capture, 0, 0,
                { { kMjpeg, { { 1280, 720 }, { 1920, 1080 }, { 640, 480 } } },
                    { kYuyv, { { 640, 480 }, { 320, 240 } } } }),
            "platform/cam");
        addNode("video1",
            node("Range", capture, 0, 0, { { kYuyv, {} } },
                v4l2_frmsize_stepwise { 160, 1280, 16, 120, 720, 8 }),
            "platform/range");
        int fd = m_io.open((dev() / "video0").string(), 0);
        EXPECT_EQ(V4L2Discovery::sizes(m_io, fd),
            (std::vector<CameraFormat> { { 1280, 720 }, { 1920, 1080 }, { 640, 480 }, { 320, 240 } }));
        int rangeFd = m_io.open((dev() / "video1").string(), 0);
        EXPECT_EQ(V4L2Discovery::sizes(m_io, rangeFd),
            (std::vector<CameraFormat> { { 640, 360 }, { 640, 480 }, { 1280, 720 } }));
    }

    TEST_F(V4L2Test, OpeningAsksForThePresetAndAFailedOpenClosesTheDeviceAndIsReported)
    {
        addNode("video0", node("Busy", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, EBUSY), "platform/a");
        addNode("video1", node("Output", V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING), "platform/b");
        addNode("video2",
            node("NoMemory", V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING, 0, ENOMEM,
                { { kMjpeg, { { 1920, 1080 }, { 1280, 720 } } } }),
            "platform/c");
        auto io = std::make_unique<FakeV4L2Io>(m_io);
        FakeV4L2Io& fake = *io;
        test::ManualMainExecutor main;
        SystemClock clock;
        CaptureService service(std::make_unique<V4L2CameraSource>(std::move(io), dev(), sys()), main, clock,
            [](const std::string&) {});
        std::vector<std::string> errors;
        service.onError = [&](const std::string& message) { errors.push_back(message); };

        for (const char* name : { "Busy", "Output", "NoMemory" }) {
            service.setCameraName(name);
            service.startCamera();
            service.waitUntilIdle(); // the start has run with this name
        }
        main.drain();

        EXPECT_EQ(errors,
            (std::vector<std::string> {
                "Câmera \"Busy\" não encontrada", // a node that cannot be opened is not listed
                "Câmera \"Output\" não encontrada", // nor one that does not capture
                "Não foi possível abrir a câmera: " + (dev() / "video2").string()
                    + ": Cannot allocate memory" }));
        EXPECT_EQ(fake.sizesAsked, (std::vector<CameraFormat> { { 1280, 720 } }));
        EXPECT_EQ(fake.openCount, fake.closeCount);
        EXPECT_FALSE(service.currentDevice());
    }

    TEST_F(V4L2Test, SourceThatIsNotStartedRefusesFormatsAndStopsHarmlessly)
    {
        V4L2CameraSource source(std::make_unique<FakeV4L2Io>(), dev(), sys());
        EXPECT_TRUE(source.formats().empty());
        EXPECT_THROW(source.setFormat({ 1280, 720 }), Error);
        source.stop();
    }

} // namespace
} // namespace vardel
