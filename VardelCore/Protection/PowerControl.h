#pragma once

namespace vardel {

// Prevents and allows system sleep. Repeating the current state changes nothing.
class PowerControl {
public:
    virtual ~PowerControl() = default;
    virtual void preventSleep() = 0;
    virtual void allowSleep() = 0;
};

} // namespace vardel
