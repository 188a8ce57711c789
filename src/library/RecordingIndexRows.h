#pragma once
// What the index holds in memory of its rows, and the statement helpers its parts share.
// Private to the index's own files.

#include "IndexedHeader.h"
#include "RecordingIndex.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <sqlite3.h>

namespace IndexRows {

inline QByteArray columnBlob(sqlite3_stmt* st, int column)
{
    return QByteArray(static_cast<const char*>(sqlite3_column_blob(st, column)),
                      sqlite3_column_bytes(st, column));
}

// A file's stamp from five columns from first on (device, inode, size, times).
inline FileStamp columnStamp(sqlite3_stmt* st, int first)
{
    return {uint64_t(sqlite3_column_int64(st, first)), uint64_t(sqlite3_column_int64(st, first + 1)),
            sqlite3_column_int64(st, first + 2), sqlite3_column_int64(st, first + 3),
            sqlite3_column_int64(st, first + 4)};
}

// A folder's stamp from four columns from first on (device, inode, times), and bound the same way.
inline FolderStamp columnFolderStamp(sqlite3_stmt* st, int first)
{
    return {uint64_t(sqlite3_column_int64(st, first)), uint64_t(sqlite3_column_int64(st, first + 1)),
            sqlite3_column_int64(st, first + 2), sqlite3_column_int64(st, first + 3)};
}

inline void bindFolderStamp(sqlite3_stmt* st, int first, const FolderStamp& stamp)
{
    sqlite3_bind_int64(st, first, sqlite3_int64(stamp.device));
    sqlite3_bind_int64(st, first + 1, sqlite3_int64(stamp.inode));
    sqlite3_bind_int64(st, first + 2, stamp.modifiedNs);
    sqlite3_bind_int64(st, first + 3, stamp.changedNs);
}

// Resets a statement when it goes out of scope, so that no read stays open.
struct Reset
{
    sqlite3_stmt* st;
    ~Reset()
    {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};

} // namespace IndexRows

struct RecordingIndex::Entry
{
    FileStamp stamp;
    int64_t created = 0;
    uint32_t duration = 0;
    int64_t templateId = 0;
    IndexedHeader fields;
    bool seen = false;
};

struct RecordingIndex::PendingWrite
{
    QString folder;
    QString fileName;
    bool store = true; // else the entry is removed
    FileStamp stamp;
    tagFileList record;
};

struct RecordingIndex::FolderState
{
    QString path;
    int64_t id = 0; // 0 while the folder has no row
    QHash<QString, Entry> entries;
    bool listed = false; // the scan kept what it met of the folder as a whole
};
