#pragma once
// The calls that the durable copy, the batch of copies, temporary names, numbered names
// and folder walks share. Private to this folder: nothing outside it includes this header.

#include "DurableCopy.h"

#include <QByteArray>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace FileCalls {

inline FileResult result(int error)
{
    return FileResult{error};
}

inline FileResult lastError()
{
    return result(errno);
}

inline bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

inline int openRetrying(int folderFd, const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::openat(folderFd, path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

inline int flockRetrying(int fd, int operation)
{
    int done;
    do
        done = ::flock(fd, operation);
    while (done != 0 && errno == EINTR);
    return done;
}

// Folder and last component of a native path; the folder is "." for a bare name.
inline std::pair<QByteArray, QByteArray> splitPath(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {QByteArrayLiteral("."), path};
    return {slash == 0 ? QByteArrayLiteral("/") : path.left(slash), path.mid(slash + 1)};
}

inline QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// The durable copy (DurableCopy.cpp).

// fsync of an open folder; EINVAL (a file system that keeps no folder to sync) counts as done.
int syncFolder(int fd, const QByteArray& path);
// Copies from the current offsets to the end of in; returns the errno of a failure.
int copyBytes(int in, int out, int64_t size, const CopyProgress& progress);
// Reads the written file (open as check) back from the device and compares it with the
// source. It must have been fsync'ed: its clean pages are then dropped from the page
// cache, so the comparison reads what the device holds, not what was handed to it.
// cacheDropped: the caller has dropped the file's pages already (and may have asked for
// them to be read from the device ahead).
int verifyCopy(int in, int check, int64_t size, const CopyProgress& progress,
               const std::vector<CopyPatch>& patches = {}, bool cacheDropped = false);
// The two ends of a copy: the source open for reading (a regular file, looked at before
// and after the open), its status, and the destination's folder open, with the
// destination's folder path and name. errno of a failure, with nothing left open.
int openCopyEnds(const QString& source, const QString& destination, int& in, struct stat& sourceStat,
                 int& folderFd, QByteArray& folder, QByteArray& name);
// The source's permission bits and, with copyTimes, its access and modification times
// for the written copy; bits the file system refuses are kept as it has them.
int takeSourceAttributes(int out, const struct stat& sourceStat, bool copyTimes);

// Temporary names (TemporaryNames.cpp).

// Creates a temporary file for name and takes its exclusive lock, which it keeps for
// as long as the file is open: a tidy-up meanwhile (here, in another process or on
// another machine sharing the folder) leaves it alone.
int createTemporary(int folderFd, const QByteArray& name, QByteArray& temporary);
// Tidies the folder open as folderFd before a copy writes into it: once per operation
// when one runs, else every time.
void tidyBeforeWriting(int folderFd);
// The hidden name holds the new name whole, so that a crash between the two renames
// leaves an entry that the next start brings to its new name. The entry is locked
// throughout: a tidy-up elsewhere meanwhile leaves it alone.
int renameThroughHiddenName(const QByteArray& from, const QByteArray& to);

// Numbered names (NumberedNames.cpp).

int renameNoReplaceAt(int folderFd, const char* from, const char* to);

// Folder walks (FolderWalk.cpp).

using Entries = std::vector<std::pair<QByteArray, unsigned char>>;

// The entries of the folder open as fd (which stays open), without "." and "..";
// with keep, only those it accepts (looked at before anything is copied).
int readEntries(int fd, Entries& entries, bool (*keep)(const char* name, unsigned char type) = nullptr);
bool isFolderEntry(int folderFd, const QByteArray& name, unsigned char type);
// Whether path, relative to the folder open as folderFd, is a boundary that a walk of a tree
// on device topDev never crosses: the root of a mount (another file system, or a folder of
// this one bound there, which keeps st_dev), or a file system nested without a mount of its
// own (a btrfs subvolume: no mount root, but its st_dev differs).
bool isBoundary(int folderFd, const QByteArray& path, dev_t topDev);

} // namespace FileCalls
