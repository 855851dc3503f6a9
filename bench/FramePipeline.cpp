#include "FramePipeline.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

using namespace vardel;

namespace {

// A still scene with a little sensor noise: a gradient plus ±3 of noise per pixel, ten variants cycled.
std::vector<std::vector<std::uint8_t>> noisyScene()
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-3, 3);
    std::vector<std::vector<std::uint8_t>> frames(
        10, std::vector<std::uint8_t>(MotionDetector::thumbnailSize));
    for (auto& frame : frames)
        for (int i = 0; i < MotionDetector::width * MotionDetector::height; ++i)
            frame[i] = static_cast<std::uint8_t>(60 + (i % MotionDetector::width) + noise(random));
    return frames;
}

// Per-frame cost of the pipeline in person mode while armed and nothing opens a candidate: the
// steady state of protection. The watched area is the whole image (the most pixels to measure).
void BM_FramePipelineStillFrame(benchmark::State& state)
{
    const auto frames = noisyScene();
    FramePipeline pipeline(ROI::full(), EventPolicy(), 25);
    pipeline.setMode(DetectionMode::person);
    const FramePipeline::PeopleSource people = [] { return std::vector<PersonBox> {}; };
    double now = 1'000'000;
    // Settle first, so that every measured frame takes the normal path.
    for (int i = 0; i < 40; ++i, now += 0.1)
        pipeline.process(frames[i % frames.size()], 1280, 720, now, 0.0, people);
    if (pipeline.isSettling())
        state.SkipWithError("pipeline did not settle");

    std::size_t index = 0;
    for (auto _ : state) {
        auto result = pipeline.process(frames[index], 1280, 720, now, 0.0, people);
        benchmark::DoNotOptimize(result);
        index = (index + 1) % frames.size();
        now += 0.1;
    }
    if (pipeline.gate().checks != 0)
        state.SkipWithError("a candidate opened");
}
BENCHMARK(BM_FramePipelineStillFrame);

// The same while the picture settles, when every frame is measured and re-seeded.
void BM_FramePipelineSettlingFrame(benchmark::State& state)
{
    const auto frames = noisyScene();
    FramePipeline pipeline(ROI::full(), EventPolicy(), 25);
    const FramePipeline::PeopleSource people;
    double now = 1'000'000;
    std::size_t index = 0;
    for (auto _ : state) {
        if (!pipeline.isSettling())
            pipeline.cameraDidStart();
        auto result = pipeline.process(frames[index], 1280, 720, now, 0.0, people);
        benchmark::DoNotOptimize(result);
        index = (index + 1) % frames.size();
        now += 0.001;
    }
}
BENCHMARK(BM_FramePipelineSettlingFrame);

} // namespace

BENCHMARK_MAIN();
