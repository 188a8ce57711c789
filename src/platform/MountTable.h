#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One line of /proc/self/mountinfo.
struct MountEntry
{
    int major = 0;
    int minor = 0;
    QString root;       // the folder of the file system that is mounted
    QString mountPoint;
    QString fileSystem;
    QString source;     // for example /dev/sdb1
};

// Parses the text of a mountinfo file; malformed lines are skipped. Octal escapes
// (\040 for a space) in paths are decoded.
QList<MountEntry> ParseMountInfo(const QByteArray& text);
