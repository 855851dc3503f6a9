#pragma once

#include "ROI.h"

#include <optional>

namespace vardel {

// Rules for an area the user is drawing: which draft may be kept and which area may be saved.
// Pure functions on values; any thread.
struct AreaDraft {
    // Smallest useful width and height of a watched area, as a fraction of the frame.
    static constexpr double minimumSize = 0.03;

    // The centred area proposed when the user first chooses to watch part of the image.
    static constexpr ROI initial() { return ROI { 0.2, 0.2, 0.6, 0.6 }; }

    // A draft worth keeping as a partial area: present, valid, large enough and not the whole image.
    static bool isUsable(const std::optional<ROI>& area);

    // Whether an area (in reference coordinates) may be saved as the watched area. The whole image may.
    static bool isSavable(const ROI& area);
};

} // namespace vardel
