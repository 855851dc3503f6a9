#pragma once

#include "Mode.h"

#include <optional>
#include <string>

namespace vardel {

// The state shown to the user, derived from the mode, the camera's health and the warm-up.
// `failed` carries the text that says why; the other cases carry nothing.
struct Phase {
    enum class Kind { failed, off, preview, starting, monitoring };

    Kind kind = Kind::off;
    std::string failure; // only for `failed`

    static Phase failed(std::string text) { return { Kind::failed, std::move(text) }; }
    static Phase of(Kind kind) { return { kind, {} }; }

    static Phase compute(Mode mode, const std::optional<std::string>& failure, bool fresh,
        std::optional<double> armedSince, double now, double warmup);

    bool operator==(const Phase&) const = default;
};

} // namespace vardel
