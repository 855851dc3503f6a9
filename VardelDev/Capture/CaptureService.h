#pragma once

#include "CameraChoice.h"
#include "CameraControl.h"
#include "CameraSource.h"
#include "Frame.h"
#include "SerialQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vardel {

class Clock;
class MainExecutor;

// Owns the camera: opens the chosen one of `source` on "vardel.session", delivers at most one frame per
// 0.095 s on "vardel.video" (to `onClipFrame`, then with its 96x54 luma thumbnail to `onFrame`), keeps the
// latest frame under a lock, and reports start, interruptions and errors on the main executor.
// Set the callbacks before the first start. Destruction stops the camera and joins both queues.
class CaptureService final : public CameraControl {
public:
    using LogLine = std::function<void(const std::string&)>;

    CaptureService(std::unique_ptr<CameraSource> source, MainExecutor& main, const Clock& clock, LogLine log);
    ~CaptureService() override;

    CaptureService(const CaptureService&) = delete;
    CaptureService& operator=(const CaptureService&) = delete;

    // Main thread.
    std::function<void()> onStarted;
    std::function<void(bool began)> onInterruption;
    std::function<void(const std::string& message)> onError;
    // Why the camera did not open; called just before the onError that reports it.
    std::function<void(CameraOpenFailure failure)> onOpenFailure;
    // Video queue; `time` is the wall-clock time of delivery (seconds since 1970).
    std::function<void(const std::vector<std::uint8_t>& luma, const Frame& frame, double time)> onFrame;
    std::function<void(const Frame& frame, double time)> onClipFrame;

    // The chosen camera name; empty = automatic (the first built-in camera, else the first one).
    void setCameraName(const std::string& name);
    std::string cameraName() const;

    void startCamera() override;
    void stopCamera() override;
    void restart();
    // Switches the running camera to its widest 16:9 format (at most 1920 wide) without a restart.
    void reclaimPreferredFormat();

    // Waits for the session work queued so far (start, stop, restart, format switch). For shut-down and
    // tests; it blocks for as long as opening a camera takes.
    void waitUntilIdle();

    // The cameras present now, in the system's order; `available` is the same list for the camera choice.
    // Any thread: listing does not wait for the session queue.
    std::vector<CameraDevice> devices();
    std::vector<CameraChoice::Camera> available();
    // The camera `cameraName` designates among `devices()`, if present.
    std::optional<CameraDevice> device();
    // The camera of the running session.
    std::optional<CameraDevice> currentDevice() const;

    // The last frame passed on; empty when stopped. Any thread.
    Frame latest() const;

    // The texts reported through onError.
    static std::string cameraNotFoundText(const std::string& name);
    static std::string openFailedText(const std::string& description);

    // JPEG of `frame` (quality 0.8, sRGB), absent when it does not decode or encoding fails. Any thread.
    static std::optional<std::vector<std::uint8_t>> jpeg(const Frame& frame);
    // The 96x54 luma thumbnail of `frame`, or absent. Any thread.
    static std::optional<std::vector<std::uint8_t>> downscaleLuma(const Frame& frame);

private:
    class Delivery;

    bool configure();
    void stopSession();
    void postMain(std::function<void(CaptureService&)> work);

    std::unique_ptr<CameraSource> m_source;
    MainExecutor& m_main;
    const Clock& m_clock;
    LogLine m_log;
    std::shared_ptr<CaptureService*> m_self; // weak handle for work posted to the main thread

    mutable std::mutex m_stateMutex;
    std::string m_cameraName;
    std::optional<CameraDevice> m_currentDevice;

    mutable std::mutex m_latestMutex;
    Frame m_latest;

    std::unique_ptr<Delivery> m_delivery; // video queue state: thinner, thumbnail scaler

    SerialQueue m_videoQueue { "vardel.video" };
    SerialQueue m_sessionQueue { "vardel.session" };
};

} // namespace vardel
