#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vardel {

// Which camera to use, from the cameras in the order the system lists them. Pure functions.
class CameraChoice {
public:
    struct Camera {
        std::string name; // the device's display name
        bool builtIn = false;
        bool operator==(const Camera&) const = default;
    };

    // A chosen name picks exactly that camera or none (never another one: the user chose it);
    // an empty name (automatic) picks the first built-in camera, else the first camera.
    static std::optional<Camera> pick(const std::vector<Camera>& cameras, const std::string& chosen);
    static bool showsPicker(const std::vector<Camera>& cameras) { return cameras.size() > 1; }
};

} // namespace vardel
