// Round trip of a chat command on loopback: from the moment the fake Bot API holds the chat's message to
// the moment it receives the application's answer (the whole path: the command poller's long poll, the
// main thread, the outbox on disk, the queue runner's send). The application protects nothing for
// /status and /help; /arm and /disarm are timed to their "protection on/off" text.
// A plain program: each figure is a handful of real round trips. Usage: bench_RemoteCommand [rounds, default
// 20]

#include "FakeBotApi.h"
#include "FileCameraSource.h"
#include "L.h"
#include "MemorySecretStore.h"
#include "Model.h"
#include "Settings.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace vardel;
namespace fs = std::filesystem;

namespace {

const fs::path kStreet = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
constexpr std::int64_t kChat = 99;

bool spinUntil(const std::function<bool()>& done, double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Milliseconds from pushing `text` to the next sendMessage call.
double roundTrip(test::FakeBotApi& api, const std::string& text)
{
    const std::size_t before = api.callsOf("sendMessage").size();
    const auto start = std::chrono::steady_clock::now();
    api.pushUpdate(test::FakeBotApi::textMessage(kChat, text));
    if (!spinUntil([&] { return api.callsOf("sendMessage").size() > before; }, 10))
        return -1;
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* name, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-8s rounds %zu  median %.1f ms  max %.1f ms%s\n", name, ms.size(), ms[ms.size() / 2],
        ms.back(), ms.front() < 0 ? "  (some never answered)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    L::setLanguage(AppLanguage::en);
    const fs::path root = fs::temp_directory_path() / ("bench-remote-" + std::to_string(::getpid()));
    fs::remove_all(root);
    Paths paths(root);
    paths.prepare();
    Settings settings;
    settings.chatID = kChat;
    settings.chatLabel = "Bench";
    settings.chatConfirmed = true;
    std::ofstream(paths.config()) << settings.encode();

    test::FakeBotApi api;
    {
        Model::Options options;
        options.paths = paths;
        options.camera = std::make_unique<FileCameraSource>(kStreet.string());
        options.secrets = std::make_shared<MemorySecretStore>(test::FakeBotApi::kToken);
        options.endpoint = api.endpoint();
        Model model(std::move(options));
        spinUntil([&] { return !api.callsOf("getUpdates").empty(); }, 10);

        std::vector<double> status, help, arm, disarm;
        for (int round = 0; round < rounds; ++round) {
            status.push_back(roundTrip(api, "/status"));
            help.push_back(roundTrip(api, "/help"));
        }
        for (int round = 0; round < std::max(1, rounds / 4); ++round) {
            arm.push_back(roundTrip(api, "/arm"));
            spinUntil([] { return false; }, 1);
            disarm.push_back(roundTrip(api, "/disarm"));
        }
        report("/status", status);
        report("/help", help);
        report("/arm", arm);
        report("/disarm", disarm);
    }
    fs::remove_all(root);
    return 0;
}
