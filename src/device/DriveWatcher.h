#pragma once

#include <QObject>
#include <QStringList>

class DriveSource;

// Reports drives arriving and leaving, on the thread it lives on (the UI
// thread), by comparing the drive source's drives whenever the source says
// they may have changed.
class DriveWatcher : public QObject
{
    Q_OBJECT

public:
    explicit DriveWatcher(DriveSource& source, QObject* parent = nullptr);

    // The drives as last seen.
    const QStringList& drives() const { return m_drives; }

    // Compares the drives now with those last seen and reports the difference.
    void update();

Q_SIGNALS:
    void arrived(const QString& drive);
    void removed(const QString& drive);

private:
    DriveSource& m_source;
    QStringList m_drives;
};
