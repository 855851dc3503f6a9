#pragma once

#include "ClipWindow.h"
#include "Frame.h"
#include "FramePool.h"
#include "MainExecutor.h"
#include "RecordingControl.h"
#include "SerialQueue.h"

#include <QImage>
#include <QRect>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct SwsContext;

namespace vardel {

class Log;
class Mp4Writer;
class Paths;

// Turns camera frames into event clips: keeps a pre-roll of down-scaled copies or compressed frames, and on
// `trigger` writes it and the following seconds, time-stamped, to an H.264 MPEG-4 file in "run/clips", which
// is moved into the day's events folder when the clip closes. `push` runs on the capture thread (only the
// armed check and the scaled copy); everything else runs on the "vardel.clip" queue, finished files are
// completed on "vardel.clip.finish". `onClip` and `whenIdle` completions arrive on the main executor.
// Destruction closes an open clip and completes every clip in progress (their `onClip` is then not called).
class ClipRecorder final : public RecordingControl {
public:
    using Size = std::pair<int, int>;
    // Called with the clip's final path, or none when it failed, and the event time.
    using ClipHandler = std::function<void(std::optional<std::filesystem::path>, double)>;
    // The time stamp printed on frames for a time in seconds since 1970; an empty text prints none.
    using StampText = std::function<std::string(double)>;

    static constexpr double kGrace = 3.0;
    static constexpr std::size_t kMaxBuffered = 150;
    static constexpr int kMaxWidth = 1280;
    static constexpr int kMaxHeight = 720;
    // Frames waiting for the clip queue beyond this are dropped instead of piling up in memory.
    static constexpr int kMaxQueuedFrames = 30;

    // Without `stampText`, frames carry the full date-and-time caption in the current language.
    ClipRecorder(const Paths& paths, Log& log, MainExecutor& main, double pre = 4, double post = 10,
        StampText stampText = {});
    ~ClipRecorder() override;

    ClipRecorder(const ClipRecorder&) = delete;
    ClipRecorder& operator=(const ClipRecorder&) = delete;

    // Main thread only.
    void setOnClip(ClipHandler handler) { m_onClip = std::move(handler); }

    // Applies new pre-roll and post-roll lengths unless a clip is open.
    void configure(double pre, double post);
    // A camera frame captured at `t` (seconds since 1970). Any thread; never blocks on the clip queue.
    void push(const Frame& frame, double t);
    void trigger(double t);
    void tick(double now);

    void startRecording() override;
    void stopRecording() override;
    void whenIdle(double timeout, std::function<void()> done) override;

    // Frames pushed and not yet taken by the clip queue.
    int queuedFrames() const { return m_queuedFrames.load(); }

    // Size of the clip frames for a camera of width × height: at most 1280 × 720, never enlarged,
    // both even.
    static Size scaledSize(int width, int height);
    // The copy held in the pre-roll: `frame` scaled to `scaledSize`, or `frame` itself when it already
    // has that size (frames are immutable), or a camera's encoded frame kept compressed (decoded and
    // scaled when written). None for an empty frame.
    std::optional<Frame> scaledCopy(const Frame& frame);

private:
    using Window = ClipWindow<Frame>;
    struct Stamp {
        std::string text;
        QImage image;
        QRect box; // the part of `image` that is not transparent
    };

    void execute(Window::Actions actions);
    void openWriter(const Frame& frame);
    void appendFrame(const Frame& frame, double t);
    void compose(const Frame& frame);
    const Stamp* stampFor(double t);
    void closeWriter();
    void completeClip(std::shared_ptr<Mp4Writer> writer, std::filesystem::path tmp, double eventTime);
    void report(std::optional<std::filesystem::path> url, double eventTime);
    bool isIdle() const;
    void notifyIfIdle();

    const std::filesystem::path m_clipsFolder;
    const std::filesystem::path m_eventsFolder;
    Log& m_log;
    MainExecutor& m_main;
    const StampText m_stampText;
    ClipHandler m_onClip; // main thread
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);

    std::mutex m_armedLock;
    bool m_armed = false;

    std::mutex m_copyLock; // the capture thread's scaler
    FramePool m_pool { 8 };
    SwsContext* m_copyScaler = nullptr;
    std::atomic<int> m_queuedFrames { 0 };

    // Clip queue only.
    Window m_window;
    std::shared_ptr<Mp4Writer> m_writer;
    std::optional<std::filesystem::path> m_tmp;
    double m_eventTime = 0;
    std::optional<double> m_firstTime;
    Size m_outSize { kMaxWidth, kMaxHeight };
    int m_finishing = 0;
    std::vector<std::function<void()>> m_idleWaiters;
    std::optional<Stamp> m_stampCache;
    QImage m_canvas;
    SwsContext* m_composeScaler = nullptr;

    SerialQueue m_queue { "vardel.clip" };
    SerialQueue m_finisher { "vardel.clip.finish" };
};

} // namespace vardel
