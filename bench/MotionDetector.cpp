// Time per frame of the motion detector on a full-area 96 × 54 thumbnail, with the background seeded
// and a moving pattern so that the changed counts are not trivially zero.
#include "MotionDetector.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<std::vector<std::uint8_t>> makeFrames()
{
    std::vector<std::vector<std::uint8_t>> frames(
        8, std::vector<std::uint8_t>(vardel::MotionDetector::thumbnailSize));
    for (std::size_t f = 0; f < frames.size(); ++f) {
        for (std::size_t i = 0; i < frames[f].size(); ++i)
            frames[f][i] = static_cast<std::uint8_t>((i * 31 + f * 57 + (i / 96) * 13) % 251);
    }
    return frames;
}

void BM_ProcessFullArea(benchmark::State& state)
{
    const auto frames = makeFrames();
    vardel::MotionDetector detector(vardel::ROI::full(), 25);
    detector.process(frames[0]);
    std::size_t next = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.process(frames[next]));
        next = (next + 1) % frames.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProcessFullArea);

void BM_ProcessPartialArea(benchmark::State& state)
{
    const auto frames = makeFrames();
    vardel::MotionDetector detector({ 0.2, 0.2, 0.6, 0.6 }, 25);
    detector.process(frames[0]);
    std::size_t next = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.process(frames[next]));
        next = (next + 1) % frames.size();
    }
}
BENCHMARK(BM_ProcessPartialArea);

} // namespace

BENCHMARK_MAIN();
