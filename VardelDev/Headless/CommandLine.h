#pragma once

#include "Paths.h"

#include <QStringList>

#include <filesystem>
#include <optional>
#include <string>

class QCommandLineParser;

namespace vardel {

// What the user asked for on the command line: the windowed application (no command), the same model
// without windows (--headless), the first-run flow in the terminal (setup), a question or an order to
// the running instance (status, arm, disarm), or a look at the camera nodes (check-camera).
struct CommandLine {
    enum class Command { windowed, headless, setup, status, arm, disarm, checkCamera };

    Command command = Command::windowed;
    std::string cameraFile;
    std::optional<std::filesystem::path> dataDir;
    bool arm = false;
    bool help = false;
    bool version = false;
    // Why the arguments cannot be used; empty when they can.
    std::string error;

    // Parses without an application object, so that the kind of application can depend on the result.
    // `parser` keeps the options for the help text.
    static CommandLine parse(const QStringList& arguments, QCommandLineParser& parser);

    // The data folder asked for, or the standard one.
    Paths paths() const;
    // Runs a process of its own with the model (as opposed to a client of the running one).
    bool ownsModel() const
    {
        return command == Command::windowed || command == Command::headless || command == Command::setup;
    }
};

} // namespace vardel
