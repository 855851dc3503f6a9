// Capture costs: the 96x54 luma thumbnail of a 1280x720 frame; the CPU a played 30 fps 1280x720 file
// costs per frame passed on (decoding every frame, converting the one in three that is kept); and the CPU
// share of a still scene from a 30 fps 1280x720 MJPEG webcam through the V4L2 source, the capture service
// and motion detection, kept as JPEG or converted to planar 4:2:0 on every picture as libv4l2 does.
#include "CaptureService.h"
#include "Clock.h"
#include "FileCameraSource.h"
#include "Frame.h"
#include "MainExecutor.h"
#include "MotionDetector.h"
#include "Thumbnail.h"
#include "V4L2CameraSource.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <linux/videodev2.h>
#include <random>
#include <string_view>
#include <sys/resource.h>
#include <thread>
#include <turbojpeg.h>
#include <unistd.h>

namespace {

using namespace vardel;

Frame noisyFrame(int width, int height)
{
    auto buffer = std::make_shared<FrameBuffer>(width, height, PixelFormat::nv12);
    std::mt19937 random(1);
    for (int plane = 0; plane < buffer->planeCount(); ++plane)
        for (int row = 0; row < buffer->planeHeight(plane); ++row)
            for (int x = 0; x < buffer->planeWidth(plane); ++x)
                buffer->data(plane)[row * buffer->stride(plane) + x] = std::uint8_t(random());
    return Frame(buffer, 0);
}

void BM_Thumbnail1280x720(benchmark::State& state)
{
    Frame frame = noisyFrame(1280, 720);
    Thumbnail thumbnail;
    std::vector<std::uint8_t> luma;
    for (auto _ : state) {
        thumbnail.make(frame, luma);
        benchmark::DoNotOptimize(luma.data());
    }
}
BENCHMARK(BM_Thumbnail1280x720)->Unit(benchmark::kMicrosecond);

class InlineExecutor final : public MainExecutor {
public:
    void post(std::function<void()> work) override { work(); }
    void postAfter(double, std::function<void()> work) override { work(); }
};

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& value) { return value.tv_sec + value.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Plays a 30 fps 1280x720 file for three seconds of wall time through the real capture service (thinning,
// conversion, thumbnail) and reports the process CPU per delivered frame and as a share of one core.
void BM_FileCameraDelivery(benchmark::State& state)
{
    namespace fs = std::filesystem;
    fs::path file = fs::temp_directory_path() / ("capture-bench-" + std::to_string(getpid()) + ".mp4");
    std::string command
        = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30:duration=10 "
          "-pix_fmt yuv420p -c:v libx264 -preset veryfast '"
        + file.string() + "'";
    if (std::system(command.c_str()) != 0) {
        state.SkipWithError("the ffmpeg command-line tool is needed to make the clip");
        return;
    }
    for (auto _ : state) {
        InlineExecutor main;
        SystemClock clock;
        CaptureService service(std::make_unique<FileCameraSource>(file.string()), main, clock, {});
        std::atomic<int> frames { 0 };
        service.onFrame = [&](const std::vector<std::uint8_t>&, const Frame&, double) { ++frames; };
        double cpuBefore = processCpuSeconds();
        auto wallBefore = std::chrono::steady_clock::now();
        service.startCamera();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        service.stopCamera();
        service.devices();
        double cpu = processCpuSeconds() - cpuBefore;
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["frames_per_s"] = frames / wall;
        state.counters["cpu_ms_per_frame"] = frames ? 1000 * cpu / frames : 0;
        state.counters["core_share_pct"] = 100 * cpu / wall;
    }
    fs::remove(file);
}
BENCHMARK(BM_FileCameraDelivery)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A webcam on the ioctl layer sending one still 1280x720 JPEG 30 times a second in real time, ignoring
// the rate asked for. `converting` plays the path through libv4l2's conversion: the camera offers planar
// 4:2:0 only and every picture is decoded to it before the source sees it.
class StillWebcam final : public V4L2Io {
public:
    StillWebcam(std::string jpeg, bool converting)
        : m_jpeg(std::move(jpeg))
        , m_converting(converting)
    {
    }
    ~StillWebcam() override { tjDestroy(m_decoder); }

    int open(const std::string&, int) override { return 3; }
    int close(int) override { return 0; }
    void* map(int, std::size_t, off_t offset) override { return m_memory.at(std::size_t(offset)).data(); }
    int unmap(void*, std::size_t) override { return 0; }
    int wait(int, double) override
    {
        m_due += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(m_due);
        return 1;
    }

    int ioctl(int, unsigned long request, void* argument) override
    {
        const std::uint32_t format = m_converting ? V4L2_PIX_FMT_YUV420 : V4L2_PIX_FMT_MJPEG;
        switch (request) {
        case VIDIOC_QUERYCAP:
            static_cast<v4l2_capability*>(argument)->capabilities
                = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        case VIDIOC_ENUM_FMT:
            static_cast<v4l2_fmtdesc*>(argument)->pixelformat = format;
            return static_cast<v4l2_fmtdesc*>(argument)->index == 0 ? 0 : fail();
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(argument);
            size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            size->discrete = { 1280, 720 };
            return size->index == 0 ? 0 : fail();
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT: {
            auto& pix = static_cast<v4l2_format*>(argument)->fmt.pix;
            pix = {};
            pix.width = 1280;
            pix.height = 720;
            pix.pixelformat = format;
            pix.bytesperline = m_converting ? 1280 : 0;
            pix.sizeimage = 1280 * 720 * 2;
            pix.colorspace = V4L2_COLORSPACE_JPEG;
            return 0;
        }
        case VIDIOC_REQBUFS:
            static_cast<v4l2_requestbuffers*>(argument)->count = 4;
            m_memory.assign(4, std::string(1280 * 720 * 2, '\0'));
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
        case VIDIOC_DQBUF:
            return dequeue(*static_cast<v4l2_buffer*>(argument));
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            return 0;
        default:
            return fail();
        }
    }

private:
    static int fail()
    {
        errno = EINVAL;
        return -1;
    }

    int dequeue(v4l2_buffer& buffer)
    {
        if (m_queued.empty()) {
            errno = EAGAIN;
            return -1;
        }
        buffer.index = m_queued.front();
        m_queued.pop_front();
        auto* bytes = reinterpret_cast<unsigned char*>(m_memory[buffer.index].data());
        const auto* jpeg = reinterpret_cast<const unsigned char*>(m_jpeg.data());
        if (m_converting) {
            unsigned char* planes[3] = { bytes, bytes + 1280 * 720, bytes + 1280 * 720 * 5 / 4 };
            int strides[3] = { 1280, 640, 640 };
            tjDecompressToYUVPlanes(m_decoder, jpeg, m_jpeg.size(), planes, 1280, strides, 720, 0);
            buffer.bytesused = 1280 * 720 * 3 / 2;
        } else {
            std::copy(m_jpeg.begin(), m_jpeg.end(), bytes);
            buffer.bytesused = std::uint32_t(m_jpeg.size());
        }
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        buffer.timestamp.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(now).count();
        buffer.timestamp.tv_usec
            = std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 1000000;
        return 0;
    }

    std::string m_jpeg;
    bool m_converting;
    tjhandle m_decoder = tjInitDecompress();
    std::vector<std::string> m_memory;
    std::deque<std::uint32_t> m_queued;
    std::chrono::steady_clock::time_point m_due = std::chrono::steady_clock::now();
};

// A still 1280x720 JPEG of real footage, as a webcam sends it (4:2:0 so that the converting path decodes
// straight to its planes: the cheapest case for it).
std::string stillJpeg()
{
    namespace fs = std::filesystem;
    const fs::path file = fs::temp_directory_path() / ("still-" + std::to_string(getpid()) + ".jpg");
    const std::string command
        = "ffmpeg -nostdin -v error -y -ss 5 -i /usr/share/doc/opencv-doc/examples/data/vtest.avi "
          "-frames:v 1 -vf scale=1280:720 -pix_fmt yuvj420p -q:v 4 '"
        + file.string() + "'";
    if (std::system(command.c_str()) != 0)
        return {};
    std::ifstream in(file, std::ios::binary);
    std::string bytes { std::istreambuf_iterator<char>(in), {} };
    fs::remove(file);
    return bytes;
}

// Taking one 1280x720 webcam JPEG: the copy and the thumbnail from a DCT-scaled decode; and the full
// decode to 4:2:0 planes that the detector, a photo or a clip asks for.
void BM_WebcamJpeg(benchmark::State& state)
{
    const std::string jpeg = stillJpeg();
    if (jpeg.empty()) {
        state.SkipWithError("needs ffmpeg and the OpenCV sample footage");
        return;
    }
    auto counters = std::make_shared<CaptureCounters>();
    Thumbnail scaler;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.data());
    for (auto _ : state) {
        auto picture = CameraPicture::take(
            { CameraPixels::mjpeg, 1280, 720 }, bytes, jpeg.size(), scaler, FramePool(4), counters);
        if (state.range(0))
            benchmark::DoNotOptimize(picture->decode());
        benchmark::DoNotOptimize(picture);
    }
    state.counters["jpeg_kB"] = double(jpeg.size()) / 1000;
}
BENCHMARK(BM_WebcamJpeg)->ArgName("full")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Ways to get the luma block means of one 1280x720 webcam JPEG, against today's 1/8-scale greyscale
// decode: 1 the same with the fast IDCT and plain upsampling, 2 the DC coefficients read without any
// IDCT (libjpeg's coefficient reader behind tjTransform), 3 only hashing the bytes, what a check for an
// unchanged picture would cost before any decode. The entropy decode dominates all decoding variants.
void BM_JpegBlockMeans(benchmark::State& state)
{
    const std::string jpeg = stillJpeg();
    if (jpeg.empty()) {
        state.SkipWithError("needs ffmpeg and the OpenCV sample footage");
        return;
    }
    auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(jpeg.data()));
    tjhandle decoder = tjInitDecompress();
    tjhandle transformer = tjInitTransform();
    std::vector<unsigned char> small(160 * 90);
    tjtransform readDc {};
    readDc.options = TJXOPT_NOOUTPUT;
    long dcSum = 0; // the DC terms are only summed: the cost of reaching them is what is measured
    readDc.data = &dcSum;
    readDc.customFilter = [](short* coefficients, tjregion arrayRegion, tjregion, int component, int,
                              tjtransform* transform) {
        for (int block = 0; component == 0 && block < arrayRegion.w * arrayRegion.h / 64; ++block)
            *static_cast<long*>(transform->data) += coefficients[block * 64];
        return 0;
    };
    unsigned char* none = nullptr;
    unsigned long noneSize = 0;
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0:
        case 1:
            tjDecompress2(decoder, bytes, jpeg.size(), small.data(), 160, 160, 90, TJPF_GRAY,
                TJFLAG_STOPONWARNING | (state.range(0) ? TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE : 0));
            break;
        case 2:
            tjTransform(transformer, bytes, jpeg.size(), 1, &none, &noneSize, &readDc, 0);
            break;
        default:
            benchmark::DoNotOptimize(std::hash<std::string_view>()(jpeg));
        }
        benchmark::DoNotOptimize(small.data());
    }
    tjDestroy(decoder);
    tjDestroy(transformer);
}
BENCHMARK(BM_JpegBlockMeans)->ArgName("way")->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// Five seconds of the still webcam through the V4L2 source, the capture service (thinning, thumbnail,
// latest frame) and motion detection; process CPU as a share of one core. Argument: 1 = converting.
void BM_StillWebcamCoreShare(benchmark::State& state)
{
    namespace fs = std::filesystem;
    const std::string jpeg = stillJpeg();
    if (jpeg.empty()) {
        state.SkipWithError("needs ffmpeg and the OpenCV sample footage");
        return;
    }
    const fs::path dev = fs::temp_directory_path() / ("webcam-" + std::to_string(getpid()));
    fs::create_directories(dev);
    std::ofstream(dev / "video0").put('\n');
    for (auto _ : state) {
        InlineExecutor main;
        SystemClock clock;
        auto source = std::make_unique<V4L2CameraSource>(
            std::make_unique<StillWebcam>(jpeg, state.range(0) != 0), dev, dev / "sys");
        const V4L2CameraSource& camera = *source;
        CaptureService service(std::move(source), main, clock, {});
        MotionDetector motion(ROI::full(), 25);
        std::atomic<int> frames { 0 };
        service.onFrame = [&](const std::vector<std::uint8_t>& luma, const Frame&, double) {
            motion.process(luma);
            ++frames;
        };
        service.startCamera();
        service.waitUntilIdle();
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // past the start
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        const int framesBefore = frames;
        std::this_thread::sleep_for(std::chrono::seconds(5));
        const double cpu = processCpuSeconds() - cpuBefore;
        const double wall
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        state.counters["frames_per_s"] = (frames - framesBefore) / wall;
        state.counters["core_share_pct"] = 100 * cpu / wall;
        state.counters["full_decodes"] = double(camera.counters().fullDecodes);
        service.stopCamera();
        service.waitUntilIdle();
    }
    fs::remove_all(dev);
}
BENCHMARK(BM_StillWebcamCoreShare)
    ->ArgName("converting")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
