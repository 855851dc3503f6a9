#pragma once

#include "MenuBarState.h"
#include "StatusPresentation.h"

#include <QColor>
#include <QPixmap>

#include <string_view>

namespace vardel {

// The application's own symbol images (SVG resources named after the symbols the status texts use),
// drawn in one colour. Main thread (they paint with QPainter on pixmaps).
namespace Symbols {

    // Whether a symbol of that name is built in.
    bool exists(std::string_view name);
    // `name` tinted `colour` at `size` x `size` logical pixels for a screen of `pixelRatio`; the camera
    // symbol "video" when there is no symbol of that name.
    QPixmap pixmap(std::string_view name, const QColor& colour, int size, qreal pixelRatio = 1.0);

    // The tray icon's symbol and colour for a state; `text` is the palette's window text colour, which
    // the neutral states use.
    std::string_view traySymbol(MenuBarState state);
    QColor trayColour(MenuBarState state, const QColor& text);

    // The colour family of the status header.
    QColor toneColour(StatusPresentation::Tone tone, const QColor& text);

} // namespace Symbols

} // namespace vardel
