#pragma once

#include <QObject>
#include <QString>

#include <functional>

struct udev;
struct udev_monitor;
class QSocketNotifier;

namespace vardel {

// Watches the system for cameras being plugged in or out: a udev monitor on the "video4linux" subsystem,
// read through a QSocketNotifier on the Qt main loop, so callbacks and signals arrive on the main thread
// without an extra thread. When udev cannot be reached, `isActive` is false and nothing is reported.
class DeviceMonitor final : public QObject {
    Q_OBJECT
public:
    explicit DeviceMonitor(QObject* parent = nullptr);
    ~DeviceMonitor() override;

    bool isActive() const { return m_notifier != nullptr; }

    // Main thread; the device node, e.g. "/dev/video0".
    std::function<void(const QString& node)> onConnected;
    std::function<void(const QString& node)> onDisconnected;

signals:
    void deviceConnected(const QString& node);
    void deviceDisconnected(const QString& node);

private:
    void readEvents();

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vardel
