#pragma once

namespace vardel {

// Wall-clock time in seconds since 1970. Core components read time only through this.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

// The real clock (std::chrono::system_clock).
class SystemClock final : public Clock {
public:
    double now() const override;
};

} // namespace vardel
