#include "DriveWatcher.h"

#include "platform/DriveSource.h"

DriveWatcher::DriveWatcher(DriveSource& source, QObject* parent) : QObject(parent), m_source(source)
{
    for (const DriveInfo& drive : m_source.drives())
        m_drives.append(drive.root);
    connect(&m_source, &DriveSource::changed, this, &DriveWatcher::update, Qt::QueuedConnection);
    m_source.startWatching();
}

void DriveWatcher::update()
{
    QStringList now;
    for (const DriveInfo& drive : m_source.drives())
        now.append(drive.root);
    const QStringList before = m_drives;
    m_drives = now;
    for (const QString& drive : before) {
        if (!now.contains(drive))
            Q_EMIT removed(drive);
    }
    for (const QString& drive : now) {
        if (!before.contains(drive))
            Q_EMIT arrived(drive);
    }
}
