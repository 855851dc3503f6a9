#include "SensitivityLevel.h"

#include <cmath>
#include <limits>

namespace vardel {

int sensitivityValue(SensitivityLevel level)
{
    switch (level) {
    case SensitivityLevel::low:
        return 4;
    case SensitivityLevel::normal:
        return 6;
    case SensitivityLevel::high:
        return 8;
    }
    return 6;
}

SensitivityLevel sensitivityLevel(double stored)
{
    if (stored <= 5.0)
        return SensitivityLevel::low;
    if (stored >= 8.0)
        return SensitivityLevel::high;
    return SensitivityLevel::normal;
}

K labelKey(SensitivityLevel level)
{
    switch (level) {
    case SensitivityLevel::low:
        return K::setLow;
    case SensitivityLevel::normal:
        return K::setNormal;
    case SensitivityLevel::high:
        return K::setHigh;
    }
    return K::setNormal;
}

int roundedSensitivity(double value)
{
    if (std::isnan(value))
        return 6;
    constexpr double low = std::numeric_limits<int>::min();
    constexpr double high = std::numeric_limits<int>::max();
    // std::round rounds halves away from zero; the clamp keeps the conversion defined.
    const double rounded = std::round(value);
    return static_cast<int>(rounded < low ? low : rounded > high ? high : rounded);
}

} // namespace vardel
