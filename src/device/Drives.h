#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

// A drive is the mount root of a volume (see platform/DriveSource.h).

// The drives of the current drive source, in its order (mount paths on a real
// system, the file's order in a simulation).
QStringList ListDrives();

// True when the drive is a volume of the recorder attached by USB (a USB
// ancestor with vendor 5a17 and product 0c93); false for a card in a reader
// and for a drive that is not there.
bool IsRecorderDrive(const QString& drive);

// The write-protect probe: creates and deletes folder + "Protect.tmp",
// removing an entry of that name first (a link, never what it links to). A
// missing folder is not writable.
bool IsFolderWritable(const QString& folder);

// Sizes of the file system that holds a path.
struct FreeSpaceFigures
{
    uint64_t freeBytes = 0;  // free for the caller
    uint64_t totalBytes = 0;
    int error = 0;           // errno when the query failed
};
using FreeSpaceQuery = std::function<FreeSpaceFigures(const QString& path)>;
// Replaces the statvfs query (tests); an empty function restores it.
void SetFreeSpaceQuery(FreeSpaceQuery query);

// At least 50 MiB free on a file system of at most 2048 MiB, at least 500 MiB
// on a larger one. A failed query shows the system's error text with the stop
// icon and answers true, so that the caller goes on.
bool HasEnoughFreeSpace(const QString& path);

// The message callers show when HasEnoughFreeSpace says no.
QString NotEnoughFreeSpaceMessage();

// True when the path names an existing folder (not "." or "..").
bool FolderExists(const QString& path);
