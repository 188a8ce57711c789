#pragma once

#include <QByteArray>
#include <cstdint>

struct statx;

// What a file's status says about its contents: while device, inode, size and
// the last-write and status-change times stay the same, what was read from the
// file still holds. A header written back with its old last-write time still
// moves the status-change time, which the process cannot set.
struct FileStamp
{
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;

    static FileStamp FromStatx(const struct statx& st);
    // The stamp of the file a path names (through links); false when it cannot
    // be looked at or is not a regular file.
    static bool OfRegularFile(const QByteArray& nativePath, FileStamp& stamp);
    // The same for a name in an open folder, which spares the walk along the path.
    static bool OfRegularFileAt(int folder, const char* name, FileStamp& stamp);
};
