#include "AppRunner.h"

#include "AppInfo.h"
#include "AvErrorText.h"
#include "BriskoService.h"
#include "Console.h"
#include "FileCameraSource.h"
#include "Log.h"
#include "Model.h"
#include "QuitSignals.h"
#include "SingleInstance.h"
#include "UpdateNotifier.h"

#include <QCoreApplication>
#include <QSettings>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vardel {

namespace {

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

} // namespace

AppRunner::AppRunner(CommandLine line)
    : m_line(std::move(line))
{
}

// The service and the notifier refer to the model: they go first.
AppRunner::~AppRunner()
{
    m_serviceHost.reset();
    m_updates.reset();
    m_model.reset();
}

std::optional<int> AppRunner::open()
{
    Paths paths = m_line.paths();
    if (!m_line.cameraFile.empty())
        if (auto why = unplayable(m_line.cameraFile)) {
            Console::fail("cannot use " + m_line.cameraFile + " as the camera: " + *why);
            return 2;
        }

    paths.prepare();
    m_instance = std::make_unique<SingleInstance>(paths.run());
    switch (m_instance->acquire()) {
    case SingleInstance::Result::failed:
        Console::fail("cannot use the data folder " + paths.data().string() + " (" + m_instance->error()
            + "). Choose a writable folder with --data-dir.");
        return 2;
    case SingleInstance::Result::running:
        Console::say(std::string("already running for ") + paths.data().string()
            + (m_instance->answered() ? "; asked it to show its window." : ", but it did not answer."));
        return m_instance->answered() && m_line.command != CommandLine::Command::setup ? 0 : 1;
    case SingleInstance::Result::owner:
        break;
    }
    m_signals = std::make_unique<QuitSignals>();
    if (!m_signals->installed()) {
        Console::fail("cannot install the signal handlers");
        return 1;
    }
    m_signals->onQuit = [this] { quit(Model::EndReason::system); };

    Model::Options options;
    options.paths = paths;
    if (!m_line.cameraFile.empty())
        options.camera = std::make_unique<FileCameraSource>(m_line.cameraFile);
    m_model = std::make_unique<Model>(std::move(options));
    m_model->log().info("app: iniciado " + AppInfo::version() + " em " + paths.data().string());
    return std::nullopt;
}

void AppRunner::quit(Model::EndReason reason)
{
    if (m_quitting || !m_model)
        return;
    m_quitting = true;
    Console::say("stopping");
    if (onQuit)
        onQuit();
    m_model->shutdown(
        [this] {
            m_stopped = true;
            // Unconditional: quit() asks the windows first, and the main window refuses while protecting.
            QCoreApplication::exit(0);
        },
        reason);
}

void AppRunner::quitAndWait()
{
    quit();
    if (!m_stopped)
        QCoreApplication::exec();
}

void AppRunner::reportStartState()
{
    Model& model = *m_model;
    const bool windowed = m_line.command == CommandLine::Command::windowed;
    Console::say(
        "data folder " + model.paths().data().string() + (windowed ? "" : "; running without windows"));
    // The status header's text: the journal's record of what protection did.
    auto showStatus
        = [&model] { Console::say(model.presentation().title + " " + model.presentation().subtitle); };
    QObject::connect(&model, &Model::presentationChanged, &model, showStatus);
    QObject::connect(&model, &Model::noticeChanged, &model, [&model] {
        if (model.notice())
            Console::say(*model.notice());
    });
    showStatus();
    if (auto copy = model.unreadableSettingsCopy())
        Console::warn("the settings file could not be read; using the defaults (its contents are kept in "
            + copy->string() + ")");
    if (model.cameras().empty())
        Console::warn("no camera found: connect one, or pass --camera-file PATH");
    if (!model.settings().chatConfirmed || !model.settings().chatID)
        Console::warn("no Telegram chat is paired yet: alerts cannot be sent until one is (brisko setup)");
    model.readToken([](std::optional<std::string> token) {
        if (!token)
            Console::warn("no Telegram bot token is stored yet (brisko setup)");
    });
}

int AppRunner::run(const FrontEndMaker& frontEnd)
{
    Model& model = *m_model;
    reportStartState();

    m_updates = std::make_unique<UpdateNotifier>(std::shared_ptr<QSettings>(AppInfo::userDefaults()),
        AppInfo::version(), [&model](const std::string& line) { model.log().info(line); });
    FrontEnd front;
    if (frontEnd)
        front = frontEnd(model, [this] { quit(); });
    auto showWindow = [&model, show = front.showWindow] {
        model.log().info("app: outra instância pediu a janela");
        Console::say("another start asked for the window");
        if (show)
            show();
    };
    m_instance->onShowRequested = showWindow;

    m_serviceHost = std::make_unique<QObject>();
    auto* service = new BriskoService(m_serviceHost.get(), model);
    service->showWindow = showWindow;
    if (!service->publish())
        Console::warn("remote control is off: " + service->problem().toStdString());

    auto offerUpdate = [&model, updates = m_updates.get()] {
        model.setUpdate(updates->available());
        if (updates->available())
            Console::say(
                "version " + updates->available()->version + " is available: " + updates->available()->url);
    };
    QObject::connect(m_updates.get(), &UpdateNotifier::availableChanged, &model, offerUpdate);
    offerUpdate();
    m_updates->start();

    if (m_line.arm)
        model.toggleMonitoring();
    return QCoreApplication::exec();
}

} // namespace vardel
