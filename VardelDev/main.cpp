// The Brisko command: the windowed application by default, the same model without windows for a service
// (--headless), the first-run flow in a terminal (setup), and thin clients of the running instance
// (status, arm, disarm) plus a camera permission check (check-camera).

#include "AppId.h"
#include "AppInfo.h"
#include "AppRunner.h"
#include "CameraCheck.h"
#include "CommandLine.h"
#include "Console.h"
#include "DesktopShell.h"
#include "FirstRunWindow.h"
#include "Model.h"
#include "RemoteControl.h"
#include "SettingsWindow.h"
#include "TerminalSetup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>

namespace {

using namespace vardel;

// The windowed front end over the running model: the tray icon and the windows. Every quit, from the
// menus or a signal, runs the runner's one ordered shut-down.
FrontEnd runWindowed(AppRunner& runner, Model& model, std::function<void()> quit)
{
    DesktopShell::Options windows;
    windows.updates = runner.updates();
    windows.settings = [](Model& app) -> QWidget* { return new SettingsWindow(app); };
    // The guide starts protection itself when asked to; the shell then only brings its window back.
    windows.onboarding = [](Model& app, std::function<void(bool)> finished) -> QWidget* {
        return FirstRunWindow::open(app, [finished = std::move(finished)] { finished(false); });
    };
    windows.shutDown = std::move(quit);
    auto shell = std::make_shared<DesktopShell>(model, std::move(windows));
    runner.onQuit = [weak = std::weak_ptr<DesktopShell>(shell)] {
        if (auto live = weak.lock())
            live->shutDown();
    };
    shell->start();
    FrontEnd front;
    front.showWindow = [window = shell.get()] { window->showWindow(); };
    front.keep = std::move(shell);
    return front;
}

std::unique_ptr<QCoreApplication> makeApplication(CommandLine::Command command, int& argc, char** argv)
{
    using Command = CommandLine::Command;
    switch (command) {
    case Command::windowed:
        // Without a display the application still runs: protection needs no window.
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
            setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return std::make_unique<QApplication>(argc, argv);
    case Command::headless:
    case Command::setup:
        // Photos are annotated with QPainter text, which needs a GUI application, but never a display.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return std::make_unique<QGuiApplication>(argc, argv);
    case Command::status:
    case Command::arm:
    case Command::disarm:
    case Command::checkCamera:
        break;
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const CommandLine line = CommandLine::parse(arguments, parser);

    auto app = makeApplication(line.command, argc, argv);
    QCoreApplication::setApplicationName(QString::fromStdString(AppInfo::name()));
    QCoreApplication::setApplicationVersion(QString::fromStdString(AppInfo::version()));
    if (!line.error.empty()) {
        Console::fail(line.error + " (brisko --help lists the commands)");
        return 2;
    }
    if (line.help)
        parser.showHelp(0);
    if (line.version)
        parser.showVersion();

    using Command = CommandLine::Command;
    switch (line.command) {
    case Command::status:
    case Command::arm:
    case Command::disarm:
        return RemoteControl(line).run();
    case Command::checkCamera:
        return CameraCheck::run(line.paths());
    case Command::windowed:
    case Command::headless:
    case Command::setup:
        break;
    }

    if (line.command == Command::windowed) {
        QGuiApplication::setDesktopFileName(QString::fromUtf8(kApplicationId));
        QApplication::setQuitOnLastWindowClosed(false);
    }
    AppRunner runner(line);
    if (auto failed = runner.open())
        return *failed;
    if (line.command == Command::setup)
        return TerminalSetup(runner).run();
    if (line.command == Command::headless)
        return runner.run(nullptr);
    return runner.run([&runner](Model& model, std::function<void()> quit) {
        return runWindowed(runner, model, std::move(quit));
    });
}
