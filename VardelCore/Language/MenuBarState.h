#pragma once

#include "Mode.h"
#include "Phase.h"

#include <optional>

namespace vardel {

// The look of the tray icon: off, preview, protecting, detected (for a minute after an event) or problem.
// Pure; callable from any thread.
enum class MenuBarState { off, preview, protecting, detected, problem };

namespace MenuBar {

    // Seconds the icon shows `detected` after an event.
    inline constexpr double detectedFor = 60.0;

    // `lastEvent` is the time of the most recent event. A failure shows only while the camera is meant
    // to run; an event dated in the future (clock change) does not count as detected.
    MenuBarState make(Mode mode, const Phase& phase, std::optional<double> lastEvent, double now);

} // namespace MenuBar

} // namespace vardel
