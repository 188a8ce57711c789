#pragma once

#include "FileResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <sys/types.h>

// Removes one file (not a folder).
FileResult RemoveFile(const QString& path);
// Removes a folder with everything below it, never following symbolic links out of it
// (a link is removed, not its target) and never entering another file system: a folder
// that is or holds a mount point (FindMountPoint) gives EXDEV with nothing removed.
// Stops at the first failure.
// A path that is itself a symbolic link loses the link alone; any other non-folder gives ENOTDIR.
FileResult RemoveFolderTree(const QString& path);
// The folder itself when it is the root of a mount, else the first folder below it that
// is (another file system, or a folder bound there) or that lies on another device than
// the folder (a file system nested without a mount, as a btrfs subvolume); links are not
// followed. Empty when none.
QString FindMountPoint(const QString& folder);
// Whether the folder at nativePath is such a boundary for a walk of a tree on device topDev.
bool IsFileSystemBoundary(const QByteArray& nativePath, dev_t topDev);
// The names of the subfolders of the folder open as fd (links not followed), in the file
// system's order: from the folder memo while the folder's stamp holds (key: its native
// path, see FolderMemoKey), else read.
QList<QByteArray> SubfolderNames(int fd, const QByteArray& key);
