#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

// A mounted volume that may hold a recorder's card. Its name (the "drive") is its
// mount root, without a trailing separator.
struct DriveInfo
{
    QString root;
    QString deviceNode;  // the block device, for example /dev/sdb1; empty when simulated
    QString sysfsPath;   // the block device's folder in sysfs; empty when simulated
    bool removable = true;
    bool recorder = false; // on the recorder attached by USB
};

// Where the drives come from: the mounted volumes of this machine or a
// simulation. Signals changed() when the set of drives may have changed.
class DriveSource : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The drives, in the source's order.
    virtual QList<DriveInfo> drives() = 0;
    // Starts watching for changes (changed() is emitted on this object's thread).
    virtual void startWatching() = 0;
    virtual bool isSimulated() const = 0;
    // Simulated drives leave when the source lets them go; real ones cannot.
    virtual bool removeDrive(const QString& root) = 0;

    std::optional<DriveInfo> find(const QString& root);

Q_SIGNALS:
    void changed();
};

// The source in use: the simulation named by TALVEN77_DRIVES when it is set, the
// machine's mounted volumes otherwise. Tests may install their own (not owned);
// nullptr restores the choice from the environment.
DriveSource& CurrentDriveSource();
void SetDriveSource(DriveSource* source);
