#include "CommandLine.h"

#include <QCommandLineParser>

#include <array>
#include <utility>

namespace vardel {

CommandLine CommandLine::parse(const QStringList& arguments, QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        "Turns this computer's camera into a security camera that alerts your phone through Telegram.");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption cameraFile(
        "camera-file", "Use the video file PATH as the camera, played in a loop.", "PATH");
    const QCommandLineOption dataDir("data-dir", "Keep settings, outbox, events and logs in PATH.", "PATH");
    const QCommandLineOption arm("arm", "Switch protection on at once.");
    const QCommandLineOption headless("headless", "Run without windows or tray icon (for a service).");
    parser.addOptions({ cameraFile, dataDir, arm, headless });
    parser.addPositionalArgument("command",
        "setup: set up in the terminal; status, arm, disarm: ask the running Brisko; check-camera: can this "
        "user open the cameras. No command: the windowed application.",
        "[command]");

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.error = parser.errorText().toStdString();
        return line;
    }
    line.help = parser.isSet(help);
    line.version = parser.isSet(version);
    line.cameraFile = parser.value(cameraFile).toStdString();
    if (parser.isSet(dataDir))
        line.dataDir = std::filesystem::absolute(parser.value(dataDir).toStdString());
    line.arm = parser.isSet(arm);
    if (parser.isSet(headless))
        line.command = Command::headless;

    static constexpr std::array<std::pair<const char*, Command>, 5> kCommands { {
        { "setup", Command::setup },
        { "status", Command::status },
        { "arm", Command::arm },
        { "disarm", Command::disarm },
        { "check-camera", Command::checkCamera },
    } };
    const QStringList words = parser.positionalArguments();
    if (words.size() > 1) {
        line.error = "one command at a time: " + words.join(' ').toStdString();
        return line;
    }
    if (words.isEmpty())
        return line;
    for (const auto& [name, command] : kCommands)
        if (words.front() == QLatin1String(name)) {
            if (line.command == Command::headless) {
                line.error = "--headless runs the application; it takes no command";
                return line;
            }
            line.command = command;
            return line;
        }
    line.error = "unknown command: " + words.front().toStdString();
    return line;
}

Paths CommandLine::paths() const { return dataDir ? Paths(*dataDir) : Paths::standard(); }

} // namespace vardel
