// Time to turn one 1280 x 720 frame into an annotated JPEG alert photo (conversion, two spotlights, the
// stamp, JPEG at 0.82), and to render one stamp overlay for the recorder.
#include "PhotoAnnotator.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>

using namespace vardel;

namespace {

// A frame with texture everywhere, so that JPEG has real work to do.
Frame texturedFrame()
{
    auto buffer = std::make_shared<FrameBuffer>(1280, 720, PixelFormat::i420);
    for (int y = 0; y < 720; ++y)
        for (int x = 0; x < 1280; ++x)
            buffer->data(0)[y * buffer->stride(0) + x]
                = static_cast<std::uint8_t>((x * 3 + y * 7 + (x * y) % 31) & 0xff);
    for (int plane = 1; plane <= 2; ++plane)
        for (int y = 0; y < 360; ++y)
            for (int x = 0; x < 640; ++x)
                buffer->data(plane)[y * buffer->stride(plane) + x]
                    = static_cast<std::uint8_t>(96 + ((x + plane * y) % 64));
    return Frame(buffer, 0);
}

void annotateAndEncode(benchmark::State& state)
{
    const Frame frame = texturedFrame();
    const std::vector<PersonBox> people { { 0.2, 0.2, 0.15, 0.4, 0.9, false },
        { 0.6, 0.25, 0.08, 0.12, 0.95, true } };
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto photo = PhotoAnnotator::annotate(PhotoAnnotator::image(frame),
            PersonBox::forDrawing(people), "domingo, 6 de dezembro de 2026 21:04:05");
        const auto encoded = PhotoAnnotator::jpeg(*photo, 0.82);
        bytes = encoded->size();
    }
    state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}

void stampOverlay(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(PhotoAnnotator::stampOverlay("06/12/2026 21:04:05", 1280, 720));
}

} // namespace

BENCHMARK(annotateAndEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(stampOverlay)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // Fonts need the Qt application.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
