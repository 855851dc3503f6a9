// The whole application, protecting a file camera and sending to the fake Bot API on loopback:
//  - latency from the event frame to its photo item in the outbox, and to the photo at the Bot API;
//  - CPU share of one core and resident memory while protecting a 10 fps 1280x720 feed in which nothing
//    moves, with the cost of decoding the file measured on its own and subtracted; the same for a street
//    scene with people.
// A plain program (not Google Benchmark's loop): each figure needs tens of seconds of real time.
// Usage: bench_Application [seconds per phase, default 20]

#include "FakeBotApi.h"
#include "FrameBuffer.h"
#include "FileCameraSource.h"
#include "L.h"
#include "MemorySecretStore.h"
#include "Model.h"
#include "SerialQueue.h"
#include "Settings.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

const fs::path kStreet = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

double wallNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double cpuNow()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long statusKb(const std::string& field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return 0;
}

void spin(double seconds)
{
    QDeadlineTimer deadline(static_cast<qint64>(seconds * 1000));
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

// A 1280x720, 10 fps H.264 file made with the ffmpeg tool from the street video: its first frame held
// still, or the moving scene itself.
fs::path makeFeed(const fs::path& folder, bool still, int seconds)
{
    const fs::path out = folder / (still ? "still.mp4" : "street.mp4");
    const std::string input = still ? "-loop 1 -t " + std::to_string(seconds) + " -i " + (folder / "frame.png").string()
                                    : "-t " + std::to_string(seconds) + " -i " + kStreet.string();
    if (still) {
        const std::string grab = "ffmpeg -v error -y -i " + kStreet.string() + " -frames:v 1 " + (folder / "frame.png").string();
        if (std::system(grab.c_str()) != 0)
            return {};
    }
    const std::string command = "ffmpeg -v error -y " + input
        + " -vf scale=1280:720,fps=10 -c:v libx264 -preset veryfast -pix_fmt yuv420p " + out.string();
    return std::system(command.c_str()) == 0 ? out : fs::path();
}

// Decoding alone: the file camera playing into a sink that takes every picture and drops it.
double decodeCpuShare(const fs::path& file, double seconds)
{
    struct Drop final : CameraSource::Sink {
        bool accepts(double) override { return true; }
        void deliver(std::shared_ptr<const FrameBuffer>) override { }
        void failed(const std::string&) override { }
    } sink;
    FileCameraSource source(file.string());
    SerialQueue queue("bench.video");
    source.start(source.devices().front(), queue, sink);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu0 = cpuNow();
    const double wall0 = wallNow();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double share = (cpuNow() - cpu0) / (wallNow() - wall0);
    source.stop();
    return share;
}

struct Folder {
    fs::path root;
    Paths paths;
    explicit Folder(const fs::path& base, const std::string& name, int cooldown)
        : root(base / name)
        , paths(root)
    {
        paths.prepare();
        Settings settings;
        settings.chatID = 1;
        settings.chatLabel = "Bench";
        settings.chatConfirmed = true;
        settings.detectionMode = DetectionMode::motion;
        settings.sensitivity = 10;
        settings.cooldown = cooldown;
        settings.preSeconds = 1;
        settings.postSeconds = 2;
        std::ofstream(paths.config()) << settings.encode();
    }
};

std::unique_ptr<Model> protecting(const Folder& folder, const fs::path& file, const test::FakeBotApi& api)
{
    Model::Options options;
    options.paths = folder.paths;
    options.camera = std::make_unique<FileCameraSource>(file.string());
    options.secrets = std::make_shared<MemorySecretStore>(test::FakeBotApi::kToken);
    options.endpoint = api.endpoint();
    auto model = std::make_unique<Model>(std::move(options));
    model->toggleMonitoring();
    return model;
}

// CPU share of the whole process and resident memory while the model protects `file`.
void protectionCost(const char* what, const fs::path& base, const fs::path& file, double seconds, double decode)
{
    test::FakeBotApi api;
    Folder folder(base, what, 60);
    auto model = protecting(folder, file, api);
    spin(6); // past the warm-up and the detector's loading
    const double cpu0 = cpuNow();
    const double wall0 = wallNow();
    spin(seconds);
    const double share = (cpuNow() - cpu0) / (wallNow() - wall0);
    std::printf("%-34s %6.2f %% of one core (process %.2f %%, decoding %.2f %%), RSS %ld MB, peak %ld MB\n", what,
        100 * (share - decode), 100 * share, 100 * decode, statusKb("VmRSS") / 1024, statusKb("VmHWM") / 1024);
    bool done = false;
    model->shutdown([&] { done = true; });
    QDeadlineTimer deadline(15000);
    while (!done && !deadline.hasExpired())
        spin(0.1);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Latency of each event: to its photo item in the outbox (seen when the model learns the item's path)
// and to the photo's arrival at the Bot API.
void latency(const fs::path& base, double seconds)
{
    test::FakeBotApi api;
    Folder folder(base, "latency", 3);
    std::vector<double> arrivals;
    std::mutex arrivalsLock;
    std::atomic<bool> stop { false };
    std::thread watcher([&] {
        std::size_t seen = 0;
        while (!stop) {
            if (!api.waitForCalls(seen + 1, 0.2))
                continue;
            const double at = wallNow();
            const auto calls = api.calls();
            for (std::size_t i = seen; i < calls.size(); ++i)
                if (calls[i].method == "sendPhoto") {
                    std::lock_guard guard(arrivalsLock);
                    arrivals.push_back(at);
                }
            seen = calls.size();
        }
    });
    auto model = protecting(folder, kStreet, api);
    std::vector<double> events;
    std::vector<double> written;
    QObject::connect(model.get(), &Model::lastEventChanged, [&] {
        if (model->lastEvent())
            events.push_back(*model->lastEvent());
    });
    QObject::connect(model.get(), &Model::lastPhotoFileChanged, [&] { written.push_back(wallNow()); });
    spin(seconds);
    stop = true;
    watcher.join();

    std::vector<double> toOutbox;
    std::vector<double> toApi;
    for (std::size_t i = 0; i < events.size() && i < written.size(); ++i)
        toOutbox.push_back(1000 * (written[i] - events[i]));
    for (std::size_t i = 0; i < events.size() && i < arrivals.size(); ++i)
        toApi.push_back(1000 * (arrivals[i] - events[i]));
    std::printf("%zu events; event frame -> photo item in outbox: median %.0f ms, max %.0f ms\n", events.size(),
        median(toOutbox), toOutbox.empty() ? 0 : *std::max_element(toOutbox.begin(), toOutbox.end()));
    std::printf("event frame -> photo at the Bot API (loopback): median %.0f ms, max %.0f ms\n", median(toApi),
        toApi.empty() ? 0 : *std::max_element(toApi.begin(), toApi.end()));
    bool done = false;
    model->shutdown([&] { done = true; });
    QDeadlineTimer deadline(15000);
    while (!done && !deadline.hasExpired())
        spin(0.1);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    if (!fs::exists(kStreet)) {
        std::fprintf(stderr, "needs %s (opencv-doc)\n", kStreet.c_str());
        return 1;
    }
    L::setLanguage(AppLanguage::en);
    const fs::path base = fs::temp_directory_path() / ("bench-application-" + std::to_string(::getpid()));
    fs::create_directories(base);
    const int feedSeconds = static_cast<int>(seconds) + 15;
    const fs::path still = makeFeed(base, true, feedSeconds);
    const fs::path street = makeFeed(base, false, feedSeconds);
    if (still.empty() || street.empty()) {
        std::fprintf(stderr, "the ffmpeg tool could not make the test feeds\n");
        return 1;
    }

    latency(base, seconds);
    protectionCost("protecting, nothing moving", base, still, seconds, decodeCpuShare(still, seconds));
    protectionCost("protecting, people walking", base, street, seconds, decodeCpuShare(street, seconds));
    fs::remove_all(base);
    return 0;
}
