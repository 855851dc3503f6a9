#include "ROI.h"

#include <nlohmann/json.hpp>

namespace vardel {

namespace {
    constexpr double kEdgeSlack = 0.0001;

    bool inUnit(double value) { return value >= 0 && value <= 1; }
}

bool ROI::isValid() const
{
    // Comparisons are false for NaN, so a NaN field makes the area invalid.
    return inUnit(x) && inUnit(y) && inUnit(w) && inUnit(h) && w > 0 && h > 0 && x + w <= 1 + kEdgeSlack
        && y + h <= 1 + kEdgeSlack;
}

bool ROI::isFull() const { return w >= 0.999 && h >= 0.999; }

void to_json(nlohmann::json& json, const ROI& roi)
{
    json = nlohmann::json::array({ roi.x, roi.y, roi.w, roi.h });
}

void from_json(const nlohmann::json& json, ROI& roi)
{
    if (!json.is_array() || json.size() != 4)
        throw nlohmann::json::type_error::create(302, "roi must be an array of four numbers", &json);
    for (const auto& element : json) {
        if (!element.is_number())
            throw nlohmann::json::type_error::create(302, "roi must hold numbers only", &json);
    }
    roi = ROI { json[0].get<double>(), json[1].get<double>(), json[2].get<double>(), json[3].get<double>() };
}

} // namespace vardel
