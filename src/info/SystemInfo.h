#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

// What the About box lists about the machine, with the labels and formats the
// program has always shown.

// The labels of the 19 rows, in order (spellings are the product's own).
QStringList SystemInfoLabels();
// The values of the 19 rows, read now.
QStringList SystemInfoValues();

// "%4.1lf MB" of a byte count.
QString MegabyteText(uint64_t bytes);

// The operating-system name of a Windows version (major, minor, platform 1
// for the 9x family and 2 for NT), and whether the build number is shown (0
// none, 1 its low 16 bits, 2 all of it).
struct WindowsName
{
    QString name;
    int buildKind;
};
WindowsName WindowsOsName(int major, int minor, int platform);

// Product name, version and legal notice (selector 0, 1, 2); empty otherwise.
QString GetVersionText(int selector);
