#pragma once

#include "DriveSource.h"

class QFileSystemWatcher;

// Drives listed in a text file, one a line: "usb <absolute folder>" for the
// recorder attached by USB, "card <absolute folder>" for a card in a reader.
// Drives are in the file's order; other lines are ignored. A line added is a
// drive arriving, a line removed a drive leaving.
class SimulatedDriveSource final : public DriveSource
{
    Q_OBJECT

public:
    explicit SimulatedDriveSource(const QString& listFile, QObject* parent = nullptr);

    QList<DriveInfo> drives() override;
    void startWatching() override;
    bool isSimulated() const override { return true; }
    // Removes the drive's line from the file.
    bool removeDrive(const QString& root) override;

private:
    void rewatch();

    QString m_listFile;
    QFileSystemWatcher* m_watcher = nullptr;
};
