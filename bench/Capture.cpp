// Capture costs: the 96x54 luma thumbnail of a 1280x720 frame, and the CPU a played 30 fps 1280x720 file
// costs per frame passed on (decoding every frame, converting the one in three that is kept).
#include "CaptureService.h"
#include "Clock.h"
#include "FileCameraSource.h"
#include "Frame.h"
#include "MainExecutor.h"
#include "Thumbnail.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <thread>
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

} // namespace

BENCHMARK_MAIN();
