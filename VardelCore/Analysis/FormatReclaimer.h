#pragma once

#include <limits>
#include <optional>

namespace vardel {

// Decides when to switch a shared camera back to 16:9 after another application changed its format:
// wait 5 s, try at most twice 10 s apart, and give up when the attempts fail or when the other
// application switches away again soon after a recovery. A value driven by the application model's
// tick on the main thread; it never reads a clock.
struct FormatReclaimer {
    enum class Status { normal, waiting, recovered, gaveUp };

    static constexpr double kNever = -std::numeric_limits<double>::infinity();

    double waitBeforeAttempt = 5.0;
    double attemptSpacing = 10.0;
    int maxAttempts = 2;
    double conflictWindow = 30.0;
    Status status = Status::normal;
    std::optional<double> recoveredAt;
    std::optional<double> offSince;
    int attempts = 0;
    double lastAttempt = kNever;

    // `aspect`: width / height of the latest frames. True: ask the capture to go back to 16:9 now.
    bool update(double aspect, double now);
    void reset() { *this = FormatReclaimer(); }

    bool operator==(const FormatReclaimer&) const = default;
};

} // namespace vardel
