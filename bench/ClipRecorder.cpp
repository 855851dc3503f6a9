// Recorder costs: encoding one 1280 × 720 frame, the down-scaled pre-roll copy of a camera frame, and
// the resident memory of a full pre-roll ring, decoded or as a webcam's JPEG pictures.
#include "ClipRecorder.h"
#include "CameraPicture.h"
#include "Log.h"
#include "MainExecutor.h"
#include "Mp4Writer.h"
#include "Paths.h"
#include "Thumbnail.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <thread>
#include <unistd.h>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

// Runs posted work at once on the posting thread; enough for a benchmark without an event loop.
class InlineExecutor final : public MainExecutor {
public:
    void post(std::function<void()> work) override { work(); }
    void postAfter(double, std::function<void()>) override { }
};

struct Scratch {
    Scratch()
    {
        std::string name = (fs::temp_directory_path() / "bench-clip.XXXXXX").string();
        if (!::mkdtemp(name.data()))
            throw std::runtime_error("no temporary folder");
        dir = name;
        paths = std::make_unique<Paths>(dir / "data");
        paths->prepare();
        log = std::make_unique<Log>(paths->logs());
    }
    ~Scratch()
    {
        log.reset();
        fs::remove_all(dir);
    }
    fs::path dir;
    std::unique_ptr<Paths> paths;
    std::unique_ptr<Log> log;
    InlineExecutor main;
};

// A camera-like picture: gradient, a moving square and sensor noise, so the encoder has real work.
Frame cameraFrame(int width, int height, int index, PixelFormat format = PixelFormat::i420)
{
    static std::mt19937 random(1);
    std::uniform_int_distribution<int> noise(-6, 6);
    auto buffer = std::make_shared<FrameBuffer>(width, height, format);
    const int squareX = (index * 23) % (width - 200);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = buffer->data(0) + y * buffer->stride(0);
        for (int x = 0; x < width; ++x) {
            int value = 40 + (x + y) * 150 / (width + height) + noise(random);
            if (x >= squareX && x < squareX + 200 && y >= height / 3 && y < height / 3 + 200)
                value = 220;
            row[x] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
        }
    }
    for (int p = 1; p < buffer->planeCount(); ++p)
        for (int y = 0; y < buffer->planeHeight(p); ++y)
            std::fill_n(buffer->data(p) + y * buffer->stride(p), buffer->planeWidth(p), 120 + p * 6);
    return Frame(std::move(buffer), index / 10.0);
}

std::vector<QImage> bgraFrames(int count)
{
    std::vector<QImage> frames;
    for (int i = 0; i < count; ++i) {
        const Frame frame = cameraFrame(1280, 720, i * 4);
        QImage image(1280, 720, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 720; ++y) {
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            const std::uint8_t* luma = frame.luma() + y * frame.lumaStride();
            for (int x = 0; x < 1280; ++x)
                out[x] = qRgb(luma[x], luma[x], std::min(255, luma[x] + 20));
        }
        frames.push_back(std::move(image));
    }
    return frames;
}

long residentBytes()
{
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Waits until the recorder's queue has handled everything pushed so far and no clip is open or
// finishing.
void drainQueue(ClipRecorder& recorder)
{
    std::promise<void> done;
    recorder.whenIdle(1e9, [&] { done.set_value(); });
    done.get_future().wait();
}

// Waits until the frames pushed so far have been taken by the recorder's queue, clip open or not.
void waitForQueue(ClipRecorder& recorder)
{
    while (recorder.queuedFrames() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

// CPU time (all encoder threads) per 1280 × 720 BGRA frame: colour conversion and libx264 at 10 fps.
static void BM_EncodeFrame1280x720(benchmark::State& state)
{
    Scratch scratch;
    const auto frames = bgraFrames(16);
    auto writer = std::make_unique<Mp4Writer>(scratch.dir / "bench.mp4", 1280, 720);
    std::int64_t ticks = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        const QImage& image = frames[i++ % frames.size()];
        writer->append(image.constBits(), static_cast<int>(image.bytesPerLine()), ticks += 60);
    }
    writer->finish();
    state.counters["file_kbit_per_s"] = static_cast<double>(fs::file_size(scratch.dir / "bench.mp4")) * 8
        / 1000 / (static_cast<double>(ticks) / Mp4Writer::kTimeScale);
}
BENCHMARK(BM_EncodeFrame1280x720)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(300);

// CPU time per frame of a whole clip through the recorder: composition in BGRA with the time stamp,
// encoding, and completing and moving the file, for 60 frames of a 1280 × 720 camera.
static void BM_RecordedClipPerFrame(benchmark::State& state)
{
    Scratch scratch;
    std::vector<Frame> camera;
    for (int i = 0; i < 16; ++i)
        camera.push_back(cameraFrame(1280, 720, i * 4));
    constexpr int kFrames = 60;
    double t = 1'780'000'000.0;
    for (auto _ : state) {
        ClipRecorder recorder(*scratch.paths, *scratch.log, scratch.main, 0, 100);
        recorder.startRecording();
        recorder.trigger(t);
        for (int i = 0; i < kFrames; ++i) {
            recorder.push(camera[i % camera.size()], t += 0.1);
            if (i % 20 == 19)
                waitForQueue(recorder);
        }
        recorder.stopRecording();
        drainQueue(recorder);
        t += 1;
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_RecordedClipPerFrame)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The pre-roll copy of one camera frame, scaled down to at most 1280 × 720.
static void BM_ScaledCopy(benchmark::State& state)
{
    Scratch scratch;
    ClipRecorder recorder(*scratch.paths, *scratch.log, scratch.main);
    const auto format = state.range(2) ? PixelFormat::nv12 : PixelFormat::i420;
    const Frame frame
        = cameraFrame(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 0, format);
    std::vector<Frame> ring; // copies are held for a while, as in the pre-roll
    for (auto _ : state) {
        auto copy = recorder.scaledCopy(frame);
        benchmark::DoNotOptimize(copy);
        ring.push_back(std::move(*copy));
        if (ring.size() > 40)
            ring.erase(ring.begin());
    }
}
BENCHMARK(BM_ScaledCopy)
    ->Args({ 1920, 1080, 0 })
    ->Args({ 1920, 1080, 1 })
    ->Args({ 1366, 768, 0 })
    ->Unit(benchmark::kMillisecond);

// Resident memory added by a ring of 150 pre-roll copies of a 1920 × 1080 camera (1280 × 720 each).
static void BM_FullPrerollRingMemory(benchmark::State& state)
{
    for (auto _ : state) {
        Scratch scratch;
        const Frame camera = cameraFrame(1920, 1080, 0);
        const long before = residentBytes();
        {
            ClipRecorder recorder(*scratch.paths, *scratch.log, scratch.main, 1000, 10);
            recorder.startRecording();
            for (int i = 0; i < 170; ++i) {
                recorder.push(camera, 1000.0 + i / 30.0);
                if (i % 20 == 19)
                    drainQueue(recorder);
            }
            drainQueue(recorder);
            state.counters["ring_MB"] = static_cast<double>(residentBytes() - before) / 1e6;
            recorder.stopRecording();
        }
    }
}
BENCHMARK(BM_FullPrerollRingMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

// Resident memory of the default four-second pre-roll of a 10 fps 1280 × 720 camera (40 frames held):
// decoded 4:2:0 frames, or the JPEG pictures of an MJPEG webcam (a frame of real footage, 4:2:2 as
// webcams send it). Argument: 1 = JPEG.
static void BM_PrerollRingMemory(benchmark::State& state)
{
    const fs::path still = fs::temp_directory_path() / ("ring-" + std::to_string(getpid()) + ".jpg");
    if (std::system(("ffmpeg -nostdin -v error -y -ss 5 -i /usr/share/doc/opencv-doc/examples/data/vtest.avi "
                     "-frames:v 1 -vf scale=1280:720 -pix_fmt yuvj422p -q:v 4 '"
            + still.string() + "'")
                        .c_str())
        != 0) {
        state.SkipWithError("needs ffmpeg and the OpenCV sample footage");
        return;
    }
    std::ifstream in(still, std::ios::binary);
    const std::string jpeg { std::istreambuf_iterator<char>(in), {} };
    fs::remove(still);
    auto counters = std::make_shared<CaptureCounters>();
    Thumbnail scaler;
    for (auto _ : state) {
        Scratch scratch;
        const long before = residentBytes();
        {
            ClipRecorder recorder(*scratch.paths, *scratch.log, scratch.main, 4, 10);
            recorder.startRecording();
            for (int i = 0; i < 60; ++i) {
                const double t = 1000.0 + i / 10.0;
                if (state.range(0))
                    recorder.push(Frame(CameraPicture::take({ CameraPixels::mjpeg, 1280, 720 },
                                            reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(),
                                            scaler, {}, counters),
                                      t),
                        t);
                else
                    recorder.push(cameraFrame(1280, 720, i), t);
                if (i % 20 == 19)
                    drainQueue(recorder);
            }
            drainQueue(recorder);
            state.counters["ring_MB"] = static_cast<double>(residentBytes() - before) / 1e6;
            state.counters["full_decodes"] = double(counters->fullDecodes);
            recorder.stopRecording();
        }
    }
    state.counters["jpeg_kB"] = double(jpeg.size()) / 1000;
}
BENCHMARK(BM_PrerollRingMemory)
    ->ArgName("jpeg")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Stamps are drawn with Qt's fonts, which need the GUI application.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
