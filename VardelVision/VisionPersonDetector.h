#pragma once

#include "PersonDetecting.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vardel {

// Finds people in a frame with OpenCV: bodies from a NanoDet-format network (the shipped one by default;
// the HOG people detector when no network loads) and faces from the BlazeFace "back" 256 x 256 network.
// Looks only at the focus area (widened to at least a person's shape) and reports boxes in whole-frame
// coordinates, bodies first, clamped to the frame. Networks load once, in `prepare` or on the first call,
// on the analysis queue; one instance per thread. Never throws: an empty frame or an OpenCV error gives
// an empty list, and a model that cannot be loaded is reported once (log and `onNotice`) while detection
// goes on with whatever did load.
class VisionPersonDetector final : public PersonDetecting {
public:
    struct Models {
        std::filesystem::path face; // missing or failing: no faces
        std::filesystem::path person; // missing or failing: HOG
        std::string personSha256; // checked before loading `person` when not empty
        bool operator==(const Models&) const = default;
    };

    static constexpr const char* kFaceModelName = "face_detection_back_256x256.onnx";
    static constexpr const char* kBodyModelName = "nanodet-m-320-coco.onnx";
    static constexpr const char* kBodyModelSha256
        = "c59b6c947ce475d27023327808aed655fa000981fe144c4fd2026828999e19f8";
    static constexpr const char* kPersonModelName = "person.onnx";
    static constexpr const char* kInstalledModels = "/usr/local/share/brisko/models";

    // Where shipped models are looked for, in order: share/brisko/models under the running executable's
    // install prefix, the installed folder, then the source tree (builds and tests).
    static std::vector<std::filesystem::path> modelFolders();

    // Model files for the application. Faces: `<dataFolder>/models` first, then `folders`. Bodies: the
    // user's `personModel` when that file exists, else `<dataFolder>/models/person.onnx` when that one
    // does (neither checked by hash), else the shipped NanoDet file from `folders`, checked by sha256.
    static Models findModels(const std::filesystem::path& dataFolder,
        const std::filesystem::path& personModel = {},
        const std::vector<std::filesystem::path>& folders = modelFolders());

    // sha256 of a file in lower-case hex; empty when it cannot be read.
    static std::string sha256(const std::filesystem::path& file);

    using NoticeHandler = std::function<void(const std::string& problem)>;

    // `onNotice` is called on the detector's thread, once, when a model fails to load.
    explicit VisionPersonDetector(Models models, NoticeHandler onNotice = {});
    ~VisionPersonDetector() override;
    VisionPersonDetector(const VisionPersonDetector&) = delete;
    VisionPersonDetector& operator=(const VisionPersonDetector&) = delete;

    void prepare() override;
    std::vector<PersonBox> people(const Frame& frame, const Focus& focus) override;

    // Any thread. Why a model could not be loaded (empty while all load fine or before loading).
    std::string loadError() const;
    // Any thread. False before loading and when bodies fall back to HOG.
    bool usesBodyNetwork() const;

private:
    struct Engine;
    Models m_models;
    NoticeHandler m_onNotice;
    std::unique_ptr<Engine> m_engine;
    mutable std::mutex m_statusLock;
    std::string m_loadError;
    bool m_bodyNetwork = false;
};

} // namespace vardel
