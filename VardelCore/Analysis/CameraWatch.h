#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vardel {

// Notices when the camera being watched vanishes from the system's camera list (unplugged) and when it
// comes back. Fed by the application model on the main thread from device notifications and its tick.
class CameraWatch {
public:
    enum class Action { none, pause, resume };

    // `available`: names of the cameras listed now; `chosen`: the chosen camera name (empty means
    // automatic); `inUse`: the name of the camera that is open, absent when none is.
    Action update(const std::vector<std::string>& available, const std::string& chosen,
        const std::optional<std::string>& inUse);
    void reset() { m_missingName.reset(); }

    const std::optional<std::string>& missingName() const { return m_missingName; }
    bool missing() const { return m_missingName.has_value(); }

private:
    std::optional<std::string> m_missingName;
};

} // namespace vardel
