#pragma once

#include <optional>
#include <string_view>

namespace vardel {

// The three operating modes: camera off, live preview, protection on.
enum class Mode { off, preview, monitor };

constexpr std::string_view rawValue(Mode mode)
{
    switch (mode) {
    case Mode::off:
        return "off";
    case Mode::preview:
        return "preview";
    case Mode::monitor:
        return "monitor";
    }
    return "off";
}

constexpr std::optional<Mode> modeFromRaw(std::string_view raw)
{
    for (Mode mode : { Mode::off, Mode::preview, Mode::monitor })
        if (rawValue(mode) == raw)
            return mode;
    return std::nullopt;
}

} // namespace vardel
