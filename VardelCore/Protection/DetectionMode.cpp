#include "DetectionMode.h"

namespace vardel {

std::string_view rawValue(DetectionMode mode)
{
    switch (mode) {
    case DetectionMode::person:
        return "person";
    case DetectionMode::motion:
        return "motion";
    }
    return "person";
}

std::optional<DetectionMode> detectionModeFromRawValue(std::string_view raw)
{
    for (DetectionMode mode : allDetectionModes) {
        if (rawValue(mode) == raw)
            return mode;
    }
    return std::nullopt;
}

} // namespace vardel
