#include "MenuBarState.h"

namespace vardel::MenuBar {

MenuBarState make(Mode mode, const Phase& phase, std::optional<double> lastEvent, double now)
{
    if (phase.kind == Phase::Kind::failed && mode != Mode::off)
        return MenuBarState::problem;
    if (mode == Mode::off)
        return MenuBarState::off;
    if (mode == Mode::preview)
        return MenuBarState::preview;
    if (!lastEvent)
        return MenuBarState::protecting;
    double age = now - *lastEvent;
    return age >= 0 && age < detectedFor ? MenuBarState::detected : MenuBarState::protecting;
}

} // namespace vardel::MenuBar
