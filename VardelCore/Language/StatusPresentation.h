#pragma once

#include "EventKind.h"
#include "Phase.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vardel {

// The main window's status header: a tone (colour family), a symbol name, a title and a subtitle,
// decided from a snapshot of the application's state. Pure: texts come from the current language,
// times are shown in the host's zone unless `zone` names an IANA zone. Callable from any thread.
struct StatusPresentation {
    enum class Tone { off, preview, starting, protected_, person, motion, problem };

    struct Input {
        Phase phase;
        std::optional<double> monitorSince; // when monitoring began, if known
        bool areaIsFull = true;
        std::optional<std::pair<EventKind, double>> lastEvent;
        double now = 0;
        double recentWindow = 600; // seconds an event stays in the header
    };

    Tone tone = Tone::off;
    std::string symbol; // name of one of the application's symbol images
    std::string title;
    std::string subtitle;

    static StatusPresentation make(const Input& input, std::string_view zone = {});

    // "State: <title> <subtitle>" for screen readers.
    std::string accessibilityLabel() const;

    bool operator==(const StatusPresentation&) const = default;
};

// The raw name of a tone ("protected" for Tone::protected_).
std::string_view rawValue(StatusPresentation::Tone tone);

} // namespace vardel
