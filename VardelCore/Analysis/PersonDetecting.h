#pragma once

#include "Frame.h"
#include "PersonBox.h"

#include <vector>

namespace vardel {

// Lists the people in one frame. The frame pipeline calls it on the analysis queue only; an
// implementation may keep per-instance state (loaded models) and need not be thread-safe.
// Never throws: any failure gives an empty list. The real one is VisionPersonDetector (VardelVision).
class PersonDetecting {
public:
    // Where to look, in normalized whole-frame coordinates (top-left origin); the whole frame by default.
    // Boxes are still returned in whole-frame coordinates.
    struct Focus {
        double x = 0;
        double y = 0;
        double w = 1;
        double h = 1;
        bool operator==(const Focus&) const = default;
    };

    virtual ~PersonDetecting() = default;

    // Loads whatever the detector needs, so that the first call does not pay for it; optional.
    virtual void prepare() { }

    // Upper bodies first, then faces, confidences 0...1; empty when nothing is found or on any failure.
    virtual std::vector<PersonBox> people(const Frame& frame, const Focus& focus) = 0;
};

} // namespace vardel
