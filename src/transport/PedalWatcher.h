#pragma once

#include "PedalLayout.h"

#include <QObject>
#include <QString>

class QSocketNotifier;
struct udev;
struct udev_device;
struct udev_monitor;

// Finds the foot pedals of known layouts among the hidraw devices and follows
// them as they are plugged in and out (libudev). Without udev (a container, a
// machine without it) it finds nothing and says so once in the log.
class PedalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit PedalWatcher(QObject* parent = nullptr);
    ~PedalWatcher() override;

    // Reports the pedals present now, then follows arrivals and removals.
    void start();

Q_SIGNALS:
    void arrived(const QString& devnode, const PedalLayout& layout);
    void removed(const QString& devnode);

private:
    void onMonitor();
    void consider(udev_device* device);

    udev* m_udev = nullptr;
    udev_monitor* m_monitor = nullptr;
    QSocketNotifier* m_notifier = nullptr;
};
