#pragma once

#include "K.h"

#include <array>

namespace vardel {

// The three sensitivity choices of the settings screen and the first-run flow. The stored sensitivity
// is an unrestricted integer; these map it onto the choice shown and back to the value written.
enum class SensitivityLevel { low, normal, high };

inline constexpr std::array<SensitivityLevel, 3> allSensitivityLevels { SensitivityLevel::low,
    SensitivityLevel::normal, SensitivityLevel::high };

// The value written when the user picks `level`: 4, 6 or 8.
int sensitivityValue(SensitivityLevel level);
// The choice shown for a stored value: at most 5 is low, 8 or more is high, anything else normal.
SensitivityLevel sensitivityLevel(double stored);
// The text key of the choice's label.
K labelKey(SensitivityLevel level);
// A slider value as stored: nearest integer, halves away from zero; NaN gives the default 6.
int roundedSensitivity(double value);

} // namespace vardel
