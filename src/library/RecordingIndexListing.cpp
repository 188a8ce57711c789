#include "RecordingIndex.h"

#include "FolderListingCodec.h"
#include "RecordingIndexRows.h"

#include <cstring>
#include <sqlite3.h>

using namespace IndexRows;

namespace {

bool holds(int fd, const char* name, const FileStamp& known)
{
    FileStamp now;
    return FileStamp::OfRegularFileAt(fd, name, now) && now == known;
}

} // namespace

void RecordingIndex::folderListed(const FolderStamp& stamp, const FolderListing& listing)
{
    if (m_folders.empty() || !m_writable)
        return;
    FolderState& folder = *m_folders.back();
    if (!folder.id)
        folder.id = folderId(folder.path, true);
    sqlite3_stmt* st = folder.id ? statement("INSERT OR REPLACE INTO folder_listing(folder, dev, ino, mtime, ctime, "
                                             "subfolders, undecodable, others) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                                 : nullptr;
    if (!st) {
        settleKeepingTheFile();
        return;
    }
    const QByteArray subfolders = JoinNames(listing.subfolders);
    const QByteArray undecodable = JoinNames(listing.undecodableFiles);
    const QByteArray others = PackStampedNames(listing.others);
    const Reset reset{st};
    sqlite3_bind_int64(st, 1, folder.id);
    bindFolderStamp(st, 2, stamp);
    sqlite3_bind_blob(st, 6, subfolders.constData(), int(subfolders.size()), SQLITE_STATIC);
    sqlite3_bind_blob(st, 7, undecodable.constData(), int(undecodable.size()), SQLITE_STATIC);
    sqlite3_bind_blob(st, 8, others.constData(), int(others.size()), SQLITE_STATIC);
    folder.listed = check(sqlite3_step(st));
    // The listing is a help to later reads and nothing else: a failed write of it is let go.
    if (!folder.listed && m_failure == Failure::Write)
        m_failure = Failure::None;
}

void RecordingIndex::forgetListing(const FolderState& folder)
{
    if (folder.listed || !folder.id || !m_writable)
        return;
    if (sqlite3_stmt* st = statement("DELETE FROM folder_listing WHERE folder = ?")) {
        const Reset reset{st};
        sqlite3_bind_int64(st, 1, folder.id);
        check(sqlite3_step(st));
    }
}

bool RecordingIndex::folderUnchanged(const QString& folder, int fd, const FolderStamp& stamp, FolderListing& listing)
{
    settle();
    if (!ensureOpen())
        return false;
    m_usedFile = true;
    const QByteArray path = folder.toUtf8();
    sqlite3_stmt* st = statement("SELECT l.folder, l.dev, l.ino, l.mtime, l.ctime, l.subfolders, l.undecodable, "
                                 "l.others FROM folder_listing l JOIN folders f ON f.id = l.folder WHERE f.path = ?");
    if (!st) {
        settleKeepingTheFile();
        return false;
    }
    int64_t id = 0;
    {
        const Reset reset{st};
        sqlite3_bind_text(st, 1, path.constData(), int(path.size()), SQLITE_STATIC);
        if (sqlite3_step(st) != SQLITE_ROW)
            return false;
        if (!(columnFolderStamp(st, 1) == stamp))
            return false;
        id = sqlite3_column_int64(st, 0);
        listing = {};
        if (!SplitNames(columnBlob(st, 5), listing.subfolders)
            || !SplitNames(columnBlob(st, 6), listing.undecodableFiles)
            || !UnpackStampedNames(columnBlob(st, 7), listing.others))
            return false;
    }
    for (const auto& [name, known] : std::as_const(listing.others)) {
        if (!holds(fd, name.constData(), known))
            return false;
    }
    sqlite3_stmt* entries = statement("SELECT name, dev, ino, size, mtime, ctime FROM recordings WHERE folder = ?");
    if (!entries) {
        settleKeepingTheFile();
        return false;
    }
    const Reset reset{entries};
    sqlite3_bind_int64(entries, 1, id);
    int rc;
    while ((rc = sqlite3_step(entries)) == SQLITE_ROW) {
        if (!holds(fd, reinterpret_cast<const char*>(sqlite3_column_text(entries, 0)), columnStamp(entries, 1)))
            return false;
    }
    return check(rc);
}
