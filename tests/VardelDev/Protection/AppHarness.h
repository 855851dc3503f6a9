#pragma once

#include "Clock.h"
#include "Model.h"
#include "OutboxFolder.h"
#include "Paths.h"
#include "Settings.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vardel::test {

// A street scene in which people walk through the picture, from Debian's opencv-doc.
inline const std::filesystem::path kStreetVideo = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

// A fresh data folder with a paired chat in settings that suit a short test: motion or person mode, the
// most sensitive setting, a short clip.
struct DataFolder {
    explicit DataFolder(DetectionMode mode = DetectionMode::motion);

    void writeSettings(const Settings& settings) const;
    std::vector<std::filesystem::path> eventFiles(const std::string& extension) const;
    static std::string read(const std::filesystem::path& file) { return OutboxFolder::read(file); }
    // The contents of the items waiting in the outbox, oldest first.
    std::vector<std::string> outboxItems() const;

    OutboxFolder scratch; // removed with everything in it at the end
    std::filesystem::path root;
    Paths paths;
    Settings settings;
};

// Runs the Qt event loop until `done` holds or `seconds` pass; returns whether it held.
bool runUntil(const std::function<bool()>& done, double seconds);

class FakeBotApi;
// The texts the chat received, in order.
std::vector<std::string> textsSent(const FakeBotApi& api);

// A free loopback port: nothing listens on it once this returns.
int freePort();

// A model over `video` that alerts through `endpoint`, with the bot token in memory.
Model::Options appOptions(const DataFolder& folder, const std::string& endpoint,
    const std::filesystem::path& video = kStreetVideo, std::shared_ptr<const Clock> clock = nullptr);

// The system clock, which `hurry` moves `seconds` ahead, spread over the next `over` real seconds: waits the
// application counts in its own time (settling, warm-up, a covered lens) end early while frames keep
// coming at a steady, plausible pace.
class HurriedClock final : public Clock {
public:
    double now() const override;
    void hurry(double seconds, double over = 1.0);

private:
    double aheadLocked() const;

    mutable std::mutex m_mutex;
    double m_ahead = 0;
    double m_extra = 0;
    double m_over = 1;
    std::chrono::steady_clock::time_point m_since;
};

} // namespace vardel::test
