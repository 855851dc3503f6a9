#pragma once

#include "CommandLine.h"

namespace vardel {

// `brisko status`, `brisko arm` and `brisko disarm`: clients of the running instance's session-bus
// service that print plainly, in the language of the data folder's settings. Exit code 0 when the
// instance answered (and, for arm and disarm, protection is as asked), 1 when no instance runs for the
// data folder or it refused. Main thread of a QCoreApplication.
class RemoteControl {
public:
    explicit RemoteControl(CommandLine line);
    int run();

    // Sets the process's language from the folder's settings, else from the system's preference, for a
    // process that has no model. Reads nothing but the settings file.
    static void useLanguageOf(const Paths& paths);

private:
    CommandLine m_line;
};

} // namespace vardel
