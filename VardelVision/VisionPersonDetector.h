#pragma once

#include "PersonDetecting.h"

#include <filesystem>
#include <memory>
#include <string>

namespace vardel {

// Finds people in a frame with OpenCV: upper bodies from the HOG people detector (or from a NanoDet-format
// network when its file is given) and faces from the BlazeFace "back" 256 x 256 network. Looks only at the
// focus area, scaled to 200-480 pixels tall, and reports boxes in whole-frame coordinates, bodies first.
// Networks load once, on the first call; one instance per thread (the analysis queue). Never throws:
// a model that cannot be loaded, an empty frame or any OpenCV error gives an empty list.
class VisionPersonDetector final : public PersonDetecting {
public:
    struct Models {
        std::filesystem::path face; // required; a missing file makes every call return nothing
        std::filesystem::path person; // optional; empty means HOG
        bool operator==(const Models&) const = default;
    };

    static constexpr const char* kFaceModelName = "face_detection_back_256x256.onnx";
    static constexpr const char* kPersonModelName = "person.onnx";
    static constexpr const char* kInstalledModels = "/usr/local/share/brisko/models";

    // Model files for the application: the face model from `<dataFolder>/models` when there, else from the
    // installed folder; the person model from `personModel` (the user's choice) when that file exists,
    // else `<dataFolder>/models/person.onnx` when that one does; none (HOG) otherwise.
    static Models findModels(const std::filesystem::path& dataFolder,
        const std::filesystem::path& personModel = {},
        const std::filesystem::path& installedModels = kInstalledModels);

    explicit VisionPersonDetector(Models models);
    ~VisionPersonDetector() override;
    VisionPersonDetector(const VisionPersonDetector&) = delete;
    VisionPersonDetector& operator=(const VisionPersonDetector&) = delete;

    std::vector<PersonBox> people(const Frame& frame, const Focus& focus) override;

    // Why the networks could not be loaded (empty while they load fine or before the first call), for the
    // caller's log.
    std::string loadError() const;

private:
    struct Engine;
    Models m_models;
    std::unique_ptr<Engine> m_engine;
};

} // namespace vardel
