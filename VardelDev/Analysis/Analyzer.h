#pragma once

#include "EventKind.h"
#include "Frame.h"
#include "FramePipeline.h"
#include "PersonBox.h"
#include "PersonDetecting.h"
#include "ROI.h"
#include "SerialQueue.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace vardel {

class MainExecutor;
struct Settings;

// Runs the frame pipeline and the person detector on "vardel.analysis" for the frames the capture hands
// over, dropping any frame that arrives while one is still queued or in work, and renders an annotated
// JPEG of every event frame on "vardel.photo". Outputs and photos arrive on the main executor and stop
// once the analyzer is gone. Settings and arming reach the pipeline only through the analysis queue.
// Destruction (main thread) finishes the frame in work and joins both queues.
class Analyzer {
public:
    struct Output {
        double now = 0;
        std::optional<double> level;
        std::optional<EventKind> kind;
        bool formatChanged = false;
        int width = 0;
        int height = 0;
        double aspect = 16.0 / 9.0; // of the pipeline's current format
        ROI currentROI;
        int visionChecks = 0;
        int discarded = 0;
        std::vector<PersonBox> people;
        bool looksCovered = false;

        bool operator==(const Output&) const = default;
    };

    using OutputHandler = std::function<void(const Output&)>;
    // The event time and the JPEG, absent when the photo could not be rendered or encoded.
    using PhotoHandler = std::function<void(double time, const std::optional<QByteArray>& jpeg)>;

    static constexpr double kJpegQuality = 0.82;

    Analyzer(MainExecutor& main, std::unique_ptr<PersonDetecting> vision);
    ~Analyzer();

    Analyzer(const Analyzer&) = delete;
    Analyzer& operator=(const Analyzer&) = delete;

    // Main thread.
    void setOnOutput(OutputHandler handler);
    void setOnPhoto(PhotoHandler handler);

    // Capture's video queue: the frame's thumbnail (96 × 54 luma), the frame and its time. Returns
    // false when the frame was dropped (busy, or a thumbnail of the wrong size).
    bool submit(std::span<const std::uint8_t> luma, const Frame& frame, double now);

    // Any thread; each takes effect on the analysis queue, in call order with the frames.
    // The area, pixel threshold, mode and sensitivity; the rest of the event policy is kept.
    void apply(const Settings& settings);
    // A fresh event policy from the settings (streak, last event and hold-off forgotten).
    void resetPolicy(const Settings& settings);
    void setArmedSince(std::optional<double> armedSince);
    void cameraDidStart();

    // Where the detector should look, in normalized frame coordinates: the watched area when it is not
    // the whole image, else the changed pixels between two thumbnails; either grown by a quarter on each
    // side inside the frame; the whole frame when neither narrows the search or the result covers more
    // than half the frame. (The person gate still decides which boxes are in the area.)
    static PersonDetecting::Focus focus(const ROI& currentROI, std::span<const std::uint8_t> luma,
        std::span<const std::uint8_t> previous, int pixelThreshold);

private:
    struct Handlers {
        OutputHandler onOutput;
        PhotoHandler onPhoto;
    };

    // Runs the pipeline on one frame and returns its output (the caller posts it, then schedules the
    // photo of an event).
    Output process(const std::vector<std::uint8_t>& luma, const Frame& frame, double now);
    void renderPhoto(const Frame& frame, double now, const std::vector<PersonBox>& people);

    MainExecutor& m_main;
    std::shared_ptr<Handlers> m_handlers; // main thread; posted work holds it weakly

    std::mutex m_busyLock;
    bool m_busy = false;
    std::atomic<bool> m_closing { false };

    // Analysis queue only.
    std::unique_ptr<PersonDetecting> m_vision;
    FramePipeline m_pipeline;
    std::optional<double> m_armedSince;
    int m_visionChecks = 0;
    int m_pixelThreshold = 25;
    std::vector<std::uint8_t> m_previousLuma;

    // Declared last: destroyed (joined) first, while everything their tasks touch still exists.
    SerialQueue m_photoQueue { "vardel.photo" };
    SerialQueue m_queue { "vardel.analysis" };
};

} // namespace vardel
