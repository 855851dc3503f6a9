#pragma once

#include <filesystem>
#include <functional>
#include <vector>

namespace vardel {

class ModeMachine;
class QueueControl;
class RecordingControl;

// The orderly shut-down used when the application quits: protection and camera off, wait for a clip
// being written, flush the alert queue, empty the temporary folders, then `done`. Relies on the recorder
// and queue calling their callbacks on the main thread, so `done` runs there too.
namespace Lifecycle {
    inline constexpr double clipTimeout = 4.0;
    inline constexpr double flushTimeout = 5.0;

    void quit(ModeMachine& machine, RecordingControl* recorder, QueueControl* queue,
        std::vector<std::filesystem::path> temporaries, std::function<void()> done);

    // Removes the direct contents of each folder; unreadable folders and stuck entries are skipped quietly.
    void cleanTemporaries(const std::vector<std::filesystem::path>& folders);
} // namespace Lifecycle

} // namespace vardel
