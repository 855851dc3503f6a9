#pragma once

#include <nlohmann/json_fwd.hpp>

namespace vardel {

// The watched area: fractions of the frame, origin top left, y downward. Stored in 16:9 reference
// coordinates (see FrameGeometry) and persisted as the JSON array [x, y, w, h]. A plain value; any thread.
struct ROI {
    double x = 0;
    double y = 0;
    double w = 1;
    double h = 1;

    // The whole image.
    static constexpr ROI full() { return ROI { 0, 0, 1, 1 }; }

    // Every field in [0, 1], a positive size, and the far edges inside the frame (with 0.0001 of slack).
    bool isValid() const;
    // Covers (nearly) the whole image; the position is not looked at.
    bool isFull() const;

    bool operator==(const ROI&) const = default;
};

// JSON form: exactly four numbers. Anything else throws nlohmann::json::type_error.
void to_json(nlohmann::json& json, const ROI& roi);
void from_json(const nlohmann::json& json, ROI& roi);

} // namespace vardel
