// Time per detector call on one core: on a focused area around two walkers and on a whole 1280 x 720
// frame (vtest.avi street footage scaled up), with HOG bodies and, when present, the NanoDet network.
#include "VisionPersonDetector.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cstring>
#include <filesystem>

using namespace vardel;

namespace {

const std::filesystem::path kFaceModel
    = std::filesystem::path(VisionPersonDetector::kInstalledModels) / VisionPersonDetector::kFaceModelName;
const std::filesystem::path kPersonModel
    = std::filesystem::path(VARDEL_SHARED_MODELS) / "nanodet-m-320-coco.onnx";

Frame streetFrame()
{
    cv::VideoCapture video("/usr/share/doc/opencv-doc/examples/data/vtest.avi");
    cv::Mat bgr;
    for (int i = 0; i <= 100; ++i)
        if (!video.read(bgr))
            return {};
    cv::resize(bgr, bgr, cv::Size(1280, 720));
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV_I420);
    auto buffer = std::make_shared<FrameBuffer>(1280, 720, PixelFormat::i420);
    const std::uint8_t* source = yuv.data;
    for (int plane = 0; plane < 3; ++plane) {
        const int w = buffer->planeWidth(plane), h = buffer->planeHeight(plane);
        for (int row = 0; row < h; ++row, source += w)
            std::memcpy(buffer->data(plane) + row * buffer->stride(plane), source, w);
    }
    return Frame(buffer, 0);
}

void detect(benchmark::State& state, bool network, PersonDetecting::Focus focus)
{
    if (!std::filesystem::exists(kFaceModel) || (network && !std::filesystem::exists(kPersonModel))) {
        state.SkipWithError("model missing");
        return;
    }
    const Frame frame = streetFrame();
    if (frame.empty()) {
        state.SkipWithError("vtest.avi missing (opencv-doc)");
        return;
    }
    VisionPersonDetector detector({ kFaceModel, network ? kPersonModel : std::filesystem::path() });
    detector.people(frame, focus); // loads the networks
    std::size_t found = 0;
    for (auto _ : state) {
        const auto boxes = detector.people(frame, focus);
        found = boxes.size();
        benchmark::DoNotOptimize(boxes.data());
    }
    state.counters["boxes"] = static_cast<double>(found);
}

const PersonDetecting::Focus kWalkers { 0.40, 0.25, 0.20, 0.30 };

} // namespace

BENCHMARK_CAPTURE(detect, HogFocused, false, kWalkers)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(detect, HogWholeFrame, false, PersonDetecting::Focus {})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(detect, NanoDetFocused, true, kWalkers)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(detect, NanoDetWholeFrame, true, PersonDetecting::Focus {})->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // The analysis queue is one thread; measure what one core does.
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
