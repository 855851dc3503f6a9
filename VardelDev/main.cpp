// The Brisko application: the model with its camera, analysis, recording and alert delivery, started once
// per data folder. Until the windows exist it runs without one, writes what it does to the terminal and
// the log, and quits through the same orderly shut-down on SIGINT and SIGTERM.

#include "AppId.h"
#include "AppInfo.h"
#include "AvErrorText.h"
#include "DesktopShell.h"
#include "FileCameraSource.h"
#include "Log.h"
#include "Model.h"
#include "SingleInstance.h"
#include "UpdateNotifier.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

using namespace vardel;

int signalPipe[2] = { -1, -1 };

void onSignal(int)
{
    const char byte = 1;
    // Nothing else is async-signal-safe here; the main loop picks the byte up.
    [[maybe_unused]] auto written = ::write(signalPipe[1], &byte, 1);
}

void say(const std::string& line) { std::fprintf(stderr, "brisko: %s\n", line.c_str()); }

// Why `path` cannot be played as a camera, or nothing when it holds a decodable video stream.
std::optional<std::string> unplayable(const std::string& path)
{
    AVFormatContext* format = nullptr;
    int result = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    if (result < 0)
        return avErrorText(result);
    result = avformat_find_stream_info(format, nullptr);
    if (result >= 0)
        result = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    avformat_close_input(&format);
    if (result < 0)
        return result == AVERROR_STREAM_NOT_FOUND ? std::string("no video stream") : avErrorText(result);
    return std::nullopt;
}

bool installSignalPipe()
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Without a display the application still runs: protection needs no window.
    const bool headless = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
    if (headless)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromStdString(AppInfo::name()));
    QApplication::setApplicationVersion(QString::fromStdString(AppInfo::version()));
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kApplicationId));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Turns this computer's camera into a security camera that alerts your phone through Telegram.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption cameraFile("camera-file", "Use the video file PATH as the camera, played in a loop.",
        "PATH");
    QCommandLineOption dataDir("data-dir", "Keep settings, outbox, events and logs in PATH.", "PATH");
    QCommandLineOption arm("arm", "Switch protection on at once.");
    parser.addOptions({ cameraFile, dataDir, arm });
    parser.process(app);

    Paths paths = parser.isSet(dataDir)
        ? Paths(std::filesystem::absolute(parser.value(dataDir).toStdString()))
        : Paths::standard();

    std::string videoFile;
    if (parser.isSet(cameraFile)) {
        videoFile = parser.value(cameraFile).toStdString();
        if (auto why = unplayable(videoFile)) {
            say("cannot use " + videoFile + " as the camera: " + *why);
            return 2;
        }
    }

    paths.prepare();
    SingleInstance instance(paths.run());
    switch (instance.acquire()) {
    case SingleInstance::Result::failed:
        say("cannot use the data folder " + paths.data().string() + " (" + instance.error()
            + "). Choose a writable folder with --data-dir.");
        return 2;
    case SingleInstance::Result::running:
        say(std::string("already running for ") + paths.data().string()
            + (instance.answered() ? "; asked it to show its window." : ", but it did not answer."));
        return instance.answered() ? 0 : 1;
    case SingleInstance::Result::owner:
        break;
    }
    if (!installSignalPipe()) {
        say("cannot install the signal handlers");
        return 1;
    }

    Model::Options options;
    options.paths = paths;
    if (!videoFile.empty())
        options.camera = std::make_unique<FileCameraSource>(videoFile);
    Model model(std::move(options));
    model.log().info("app: iniciado " + AppInfo::version() + " em " + paths.data().string());
    say("data folder " + paths.data().string() + (headless ? "; no display, running without windows" : ""));

    // What the user sees in the status header, on the terminal until the windows exist.
    auto showStatus = [&model] {
        say(model.presentation().title + " " + model.presentation().subtitle);
    };
    QObject::connect(&model, &Model::presentationChanged, &model, showStatus);
    QObject::connect(&model, &Model::noticeChanged, &model, [&model] {
        if (model.notice())
            say(*model.notice());
    });
    showStatus();
    if (auto copy = model.unreadableSettingsCopy())
        say("the settings file could not be read; using the defaults (its contents are kept in "
            + copy->string() + ")");
    if (model.cameras().empty())
        say("no camera found: connect one, or pass --camera-file PATH");
    if (!model.settings().chatConfirmed || !model.settings().chatID)
        say("no Telegram chat is paired yet: alerts cannot be sent until one is");
    model.readToken([](std::optional<std::string> token) {
        if (!token)
            say("no Telegram bot token is stored yet");
    });
    instance.onShowRequested = [&model] {
        model.log().info("app: outra instância pediu a janela");
        say("another start asked for the window");
    };

    UpdateNotifier updates(std::shared_ptr<QSettings>(AppInfo::userDefaults()), AppInfo::version(),
        [&model](const std::string& line) { model.log().info(line); });
    auto offerUpdate = [&model, &updates] {
        model.setUpdate(updates.available());
        if (updates.available())
            say("version " + updates.available()->version + " is available: " + updates.available()->url);
    };
    QObject::connect(&updates, &UpdateNotifier::availableChanged, &model, offerUpdate);
    offerUpdate();
    updates.start();

    // With a display: the tray icon and the windows; every quit then goes through the shell.
    std::unique_ptr<DesktopShell> shell;
    if (!headless) {
        DesktopShell::Options windows;
        windows.updates = &updates;
        shell = std::make_unique<DesktopShell>(model, std::move(windows));
        instance.onShowRequested = [&shell] { shell->showWindow(); };
        shell->start();
    }

    bool quitting = false;
    auto quit = [&model, &quitting, &shell] {
        if (shell)
            return shell->shutDown();
        if (quitting)
            return;
        quitting = true;
        say("stopping");
        model.shutdown([] { QCoreApplication::quit(); });
    };
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &model, [quit] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        quit();
    });

    if (parser.isSet(arm))
        model.toggleMonitoring();

    return app.exec();
}
