#pragma once

#include "FileListRecord.h"
#include "FileStamp.h"
#include "platform/FolderMemo.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <utility>

// What a whole read of a folder met besides its recordings: while the folder keeps its
// stamp, its entries keep their names and types, so that whether it is still as read
// is told by the stamps of its recordings and of these files alone.
struct FolderListing
{
    QList<QByteArray> subfolders;       // every subfolder's name, links to folders not included
    QList<QByteArray> undecodableFiles; // names of recordings-to-be that the file-name encoding cannot read
    QList<std::pair<QByteArray, FileStamp>> others; // files named as recordings that are none, with their stamps
};

// What folder scans remember between runs, so that a file whose status has not
// changed is not opened again. The scan works the same without one; whatever a
// cache fails to do (locked, full, corrupt) it does without, silently, and a
// lookup that fails is only a miss.
class ScanCache
{
public:
    virtual ~ScanCache() = default;

    // One scan of a list: what it stores is written out together at its end.
    virtual void beginScan() = 0;
    virtual void endScan() = 0;
    // A folder (path with its trailing separator) and, nested, its subfolders.
    virtual void beginFolder(const QString& folder) = 0;
    // Entries of the folder that the scan did not meet since beginFolder are
    // forgotten (removed, renamed, or no recording any more).
    virtual void endFolder() = 0;
    // The record read from the file of that name in the current folder, when the
    // file still has the stamp it had then. Name and path are left to the caller.
    virtual bool lookup(const QString& fileName, const FileStamp& stamp, tagFileList& record) = 0;
    virtual void store(const QString& fileName, const FileStamp& stamp, const tagFileList& record) = 0;
    // The current folder was read whole (nothing left unread, no limit met) while it
    // kept the stamp given, settled before the read began. A cache that keeps it
    // may tell later that the folder is as read without reading it.
    virtual void folderListed(const FolderStamp& stamp, const FolderListing& listing)
    {
        (void)stamp;
        (void)listing;
    }
    // The program wrote a header into a file; its entry follows when the file is
    // the one the entry was read from.
    virtual void headerWritten(const QString& path, const FileStamp& stamp, const tagVoiceHeader& header) = 0;
};

// The cache the scans use; none by default. The caller keeps it alive while set.
void SetScanCache(ScanCache* cache);
ScanCache* CurrentScanCache();
