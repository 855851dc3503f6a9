#pragma once

#include "Paths.h"
#include "Settings.h"

#include <QObject>
#include <QTcpServer>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace vardel::test {

// A street scene in which people walk through the picture, from Debian's opencv-doc.
inline const std::filesystem::path kStreetVideo = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";

// A fresh data folder with a paired chat in settings that suit a short test: motion or person mode, the
// most sensitive setting, a short clip.
struct DataFolder {
    explicit DataFolder(DetectionMode mode = DetectionMode::motion);
    ~DataFolder();

    void writeSettings(const Settings& settings) const;
    std::vector<std::filesystem::path> eventFiles(const std::string& extension) const;
    static std::string read(const std::filesystem::path& file);

    std::filesystem::path root;
    Paths paths;
    Settings settings;
};

// Runs the Qt event loop until `done` holds or `seconds` pass; returns whether it held.
bool runUntil(const std::function<bool()>& done, double seconds);

// A free loopback port: nothing listens on it once this returns.
int freePort();

// Forwards every connection made to `port` on 127.0.0.1 to `target`, on the Qt event loop; stands in for
// a service that starts listening late.
class TcpRelay final : public QObject {
public:
    TcpRelay(int port, int target);
    bool listening() const { return m_server.isListening(); }

private:
    QTcpServer m_server;
    int m_target;
};

} // namespace vardel::test
