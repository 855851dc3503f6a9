// The live picture: the cost of turning one 1280x720 camera frame (planar 4:2:0 or NV12) into the RGB
// picture the window paints, at the sizes a window shows it; and, over the street video played as the
// camera while protecting, the main thread's busy share (CPU time of that thread over wall time) with the
// main window open and with it hidden, with the number of pictures shown per second.
//   bench_LivePicture [seconds per live run, default 10]
#include "CameraStage.h"
#include "FileCameraSource.h"
#include "L.h"
#include "LivePicture.h"
#include "MainWindow.h"
#include "MemorySecretStore.h"
#include "Model.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

using namespace vardel;
namespace fs = std::filesystem;

const fs::path kStreet = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

// Content does not change the cost of scaling; stripes keep every plane from being flat.
Frame stripedFrame(PixelFormat format)
{
    auto buffer = std::make_shared<FrameBuffer>(1280, 720, format);
    for (int plane = 0; plane < buffer->planeCount(); ++plane)
        for (int row = 0; row < buffer->planeHeight(plane); ++row)
            std::memset(buffer->data(plane) + row * buffer->stride(plane), (row * 7 + plane * 50) & 0xff,
                std::size_t(buffer->planeWidth(plane)));
    return Frame(buffer, 0);
}

void BM_FrameToImage(benchmark::State& state)
{
    const Frame frame = stripedFrame(state.range(0) ? PixelFormat::nv12 : PixelFormat::i420);
    const QSize size(int(state.range(1)), int(state.range(1)) * 9 / 16);
    FrameToImage converter;
    for (auto _ : state) {
        QImage image = converter.convert(frame, size);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetLabel((state.range(0) ? "nv12 -> " : "i420 -> ") + std::to_string(size.width()) + "x"
        + std::to_string(size.height()));
}
BENCHMARK(BM_FrameToImage)
    ->ArgsProduct({ { 0, 1 }, { 640, 960, 1280 } })
    ->ArgNames({ "nv12", "width" })
    ->Unit(benchmark::kMicrosecond);

double threadCpu()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double wallNow()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void spin(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

void mainThreadShare(const fs::path& base, double seconds)
{
    const Paths paths(base / "data");
    paths.prepare();
    Settings settings;
    settings.chatID = 1;
    settings.chatLabel = "Bench";
    settings.chatConfirmed = true;
    std::ofstream(paths.config()) << settings.encode();

    Model::Options options;
    options.paths = paths;
    options.camera = std::make_unique<FileCameraSource>(kStreet.string());
    options.secrets = std::make_shared<MemorySecretStore>("1:token");
    options.endpoint = "http://127.0.0.1:9"; // nothing listens: alerts wait in the outbox
    Model model(std::move(options));
    MainWindow window(model);
    window.resize(window.sizeHint());
    model.toggleMonitoring();
    spin(6); // past the warm-up and the detector's loading

    for (bool open : { true, false }) {
        window.setVisible(open);
        if (open)
            model.togglePreview();
        int shown = 0;
        auto counter = QObject::connect(&window.stage().picture(), &LivePicture::changed, [&shown] { ++shown; });
        const double cpu0 = threadCpu();
        const double wall0 = wallNow();
        spin(seconds);
        const double cpu = threadCpu() - cpu0;
        const double wall = wallNow() - wall0;
        QObject::disconnect(counter);
        std::printf("protecting, window %-7s main thread busy %5.2f %% of wall time", open ? "open," : "hidden,",
            100 * cpu / wall);
        if (open)
            std::printf(", %4.1f pictures/s, %.2f ms of main thread per picture shown", shown / wall,
                shown ? 1000 * cpu / shown : 0.0);
        std::printf("\n");
        if (open)
            model.togglePreview();
    }
    bool done = false;
    model.shutdown([&] { done = true; });
    for (int i = 0; i < 150 && !done; ++i)
        spin(0.1);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (!fs::exists(kStreet)) {
        std::fprintf(stderr, "the live run needs %s (opencv-doc)\n", kStreet.c_str());
        return 0;
    }
    L::setLanguage(AppLanguage::en);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const fs::path base = fs::temp_directory_path() / ("bench-live-picture-" + std::to_string(::getpid()));
    mainThreadShare(base, seconds);
    fs::remove_all(base);
    return 0;
}
