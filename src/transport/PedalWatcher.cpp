#include "PedalWatcher.h"

#include <QDebug>
#include <QSocketNotifier>
#include <libudev.h>

namespace {

uint16_t hexAttribute(udev_device* device, const char* name)
{
    const char* value = udev_device_get_sysattr_value(device, name);
    return value ? uint16_t(QByteArray(value).trimmed().toUInt(nullptr, 16)) : 0;
}

} // namespace

PedalWatcher::PedalWatcher(QObject* parent) : QObject(parent) {}

PedalWatcher::~PedalWatcher()
{
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
}

void PedalWatcher::start()
{
    if (m_udev)
        return;
    m_udev = udev_new();
    if (!m_udev) {
        qInfo("foot pedals: no udev, none will be found");
        return;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (m_monitor &&
        udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "hidraw", nullptr) >= 0 &&
        udev_monitor_enable_receiving(m_monitor) >= 0) {
        m_notifier =
            new QSocketNotifier(udev_monitor_get_fd(m_monitor), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &PedalWatcher::onMonitor);
    } else {
        qInfo("foot pedals: udev events are not available, pedals plugged in later are not found");
    }
    udev_enumerate* enumerate = udev_enumerate_new(m_udev);
    if (!enumerate)
        return;
    udev_enumerate_add_match_subsystem(enumerate, "hidraw");
    udev_enumerate_scan_devices(enumerate);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate))
    {
        if (udev_device* device =
                udev_device_new_from_syspath(m_udev, udev_list_entry_get_name(entry))) {
            consider(device);
            udev_device_unref(device);
        }
    }
    udev_enumerate_unref(enumerate);
}

void PedalWatcher::consider(udev_device* device)
{
    const char* devnode = udev_device_get_devnode(device);
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    if (!devnode || !usb)
        return;
    if (const auto layout =
            KnownPedalLayout(hexAttribute(usb, "idVendor"), hexAttribute(usb, "idProduct")))
        Q_EMIT arrived(QString::fromLocal8Bit(devnode), *layout);
}

void PedalWatcher::onMonitor()
{
    udev_device* device = udev_monitor_receive_device(m_monitor);
    if (!device)
        return;
    const QByteArray action = udev_device_get_action(device);
    if (action == "add") {
        consider(device);
    } else if (action == "remove") {
        if (const char* devnode = udev_device_get_devnode(device))
            Q_EMIT removed(QString::fromLocal8Bit(devnode));
    }
    udev_device_unref(device);
}
