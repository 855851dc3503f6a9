#include "DeviceMonitor.h"

#include <QSocketNotifier>

#include <cstring>
#include <libudev.h>

namespace vardel {

DeviceMonitor::DeviceMonitor(QObject* parent)
    : QObject(parent)
{
    m_udev = udev_new();
    if (!m_udev)
        return;
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "video4linux", nullptr) < 0
        || udev_monitor_enable_receiving(m_monitor) < 0) {
        return;
    }
    int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0)
        return;
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
}

DeviceMonitor::~DeviceMonitor()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void DeviceMonitor::readEvents()
{
    // The socket is non-blocking: read every event that is queued, then wait for the next wake-up.
    while (udev_device* device = udev_monitor_receive_device(m_monitor)) {
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        QString path = QString::fromUtf8(node ? node : "");
        if (action && std::strcmp(action, "add") == 0) {
            if (onConnected)
                onConnected(path);
            emit deviceConnected(path);
        } else if (action && std::strcmp(action, "remove") == 0) {
            if (onDisconnected)
                onDisconnected(path);
            emit deviceDisconnected(path);
        }
        udev_device_unref(device);
    }
}

} // namespace vardel
