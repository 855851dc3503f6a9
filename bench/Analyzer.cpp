#include "Analyzer.h"

#include "Frame.h"
#include "FrameBuffer.h"
#include "MainExecutor.h"
#include "MotionDetector.h"
#include "Settings.h"
#include "VisionPersonDetector.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

using namespace vardel;

namespace {

// Runs posted work at once on the posting thread; the benchmark only counts outputs.
class InlineExecutor final : public MainExecutor {
public:
    void post(std::function<void()> work) override { work(); }
    void postAfter(double, std::function<void()> work) override { work(); }
};

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

Frame stillFrame(int width, int height)
{
    auto buffer = std::make_shared<FrameBuffer>(width, height, PixelFormat::nv12);
    for (int plane = 0; plane < buffer->planeCount(); ++plane)
        for (int row = 0; row < buffer->planeHeight(plane); ++row)
            for (int column = 0; column < buffer->planeWidth(plane); ++column)
                buffer->data(plane)[row * buffer->stride(plane) + column]
                    = static_cast<std::uint8_t>(plane == 0 ? 40 + (column + row) % 160 : 128);
    return Frame(std::move(buffer), 0);
}

// The analyzer's share of one core while protecting a still scene: 1280×720 frames at 10 per second
// with their thumbnails (sensor noise only), in person mode and armed, with the shipped person detector
// (loaded before the measurement starts), for `state.range(0)` seconds of real time. Reports process
// CPU time / wall time and the detector calls (none: it runs only on candidates); the feeding thread
// sleeps between frames.
void BM_AnalyzerStillSceneCpuShare(benchmark::State& state)
{
    const int seconds = static_cast<int>(state.range(0));
    const Frame frame = stillFrame(1280, 720);
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-3, 3);
    std::vector<std::vector<std::uint8_t>> thumbnails(
        10, std::vector<std::uint8_t>(MotionDetector::thumbnailSize));
    for (auto& luma : thumbnails)
        for (std::size_t i = 0; i < luma.size(); ++i)
            luma[i] = static_cast<std::uint8_t>(90 + noise(random));

    for (auto _ : state) {
        InlineExecutor executor;
        std::atomic<int> outputs { 0 };
        std::atomic<int> events { 0 };
        std::atomic<int> visionChecks { 0 };
        Analyzer analyzer(
            executor, std::make_unique<VisionPersonDetector>(VisionPersonDetector::findModels({})));
        analyzer.setOnOutput([&](const Analyzer::Output& output) {
            ++outputs;
            visionChecks = output.visionChecks;
            if (output.kind)
                ++events;
        });
        std::this_thread::sleep_for(std::chrono::seconds(2)); // the models load on the analysis queue
        const double start
            = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
        Settings settings;
        settings.detectionMode = DetectionMode::person;
        analyzer.apply(settings);
        analyzer.setArmedSince(start);

        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        auto due = wallBefore;
        for (int i = 0; i < seconds * 10; ++i) {
            analyzer.submit(thumbnails[i % thumbnails.size()], frame, start + i * 0.1);
            due += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(due);
        }
        const double wall
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        const double cpu = processCpuSeconds() - cpuBefore;
        state.SetIterationTime(wall);
        state.counters["cpu_share_percent"] = 100.0 * cpu / wall;
        state.counters["cpu_ms_per_frame"] = 1000.0 * cpu / (seconds * 10);
        state.counters["outputs"] = outputs.load();
        state.counters["events"] = events.load();
        state.counters["vision_checks"] = visionChecks.load();
    }
}
BENCHMARK(BM_AnalyzerStillSceneCpuShare)
    ->Arg(5)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
