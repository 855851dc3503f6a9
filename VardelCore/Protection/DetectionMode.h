#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace vardel {

// What protection alerts on: a person confirmed in the watched area (the default) or any motion there.
// The raw values "person" and "motion" are the persisted form.
enum class DetectionMode { person, motion };

inline constexpr std::array<DetectionMode, 2> allDetectionModes { DetectionMode::person,
    DetectionMode::motion };

std::string_view rawValue(DetectionMode mode);
// Exactly "person" or "motion"; nothing for any other text.
std::optional<DetectionMode> detectionModeFromRawValue(std::string_view raw);

} // namespace vardel
