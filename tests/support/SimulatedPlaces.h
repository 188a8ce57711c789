#pragma once

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class SimulatedDriveSource;

// A temporary folder for places (save folders, cards, registered folders) and
// a simulated drive list, installed as the drive source while the object lives.
class SimulatedPlaces
{
public:
    SimulatedPlaces();
    ~SimulatedPlaces();

    // A new, empty folder whose name contains the given word.
    QString newFolder(const QString& name);
    // Replaces the drive list: lines "usb <folder>" or "card <folder>".
    bool setDrives(const QStringList& lines);
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    int m_count = 0;
    QString m_driveList;
    std::unique_ptr<SimulatedDriveSource> m_source;
};
