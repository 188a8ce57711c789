#include "RecordingIndex.h"

#include "RecordingIndexRows.h"

#include <sqlite3.h>

using namespace IndexRows;

void RecordingIndex::beginWalk()
{
    if (!openIfThere() || m_inTransaction || m_walking)
        return;
    // Waiting for another process would hold up the start: the walk then writes nothing.
    sqlite3_busy_timeout(m_db, 0);
    m_walking = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (m_db)
        sqlite3_busy_timeout(m_db, m_busyTimeoutMs);
}

void RecordingIndex::endWalk()
{
    if (!m_walking)
        return;
    m_walking = false;
    if (m_db && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK && m_db)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool RecordingIndex::knownSubfolders(const QByteArray& folder, const FolderStamp& stamp, QList<QByteArray>& names)
{
    if (!openIfThere())
        return false;
    sqlite3_stmt* st = statement("SELECT dev, ino, mtime, ctime, subfolders FROM folder_memo WHERE path = ?");
    if (!st) {
        settleKeepingTheFile();
        return false;
    }
    const Reset reset{st};
    sqlite3_bind_blob(st, 1, folder.constData(), int(folder.size()), SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_ROW)
        return false;
    if (!(columnFolderStamp(st, 0) == stamp))
        return false;
    const QByteArray joined = columnBlob(st, 4);
    names = joined.isEmpty() ? QList<QByteArray>() : joined.split('/');
    return true;
}

void RecordingIndex::rememberSubfolders(const QByteArray& folder, const FolderStamp& stamp,
                                        const QList<QByteArray>& names)
{
    if (!m_walking)
        return;
    sqlite3_stmt* st = statement("INSERT OR REPLACE INTO folder_memo(path, dev, ino, mtime, ctime, subfolders) "
                                 "VALUES (?, ?, ?, ?, ?, ?)");
    if (!st) {
        settleKeepingTheFile();
        return;
    }
    // Names hold no '/', so it parts them.
    const QByteArray joined = names.join('/');
    const Reset reset{st};
    sqlite3_bind_blob(st, 1, folder.constData(), int(folder.size()), SQLITE_STATIC);
    bindFolderStamp(st, 2, stamp);
    sqlite3_bind_blob(st, 6, joined.constData(), int(joined.size()), SQLITE_STATIC);
    // The memo is a help to the walk and nothing else: a failed write of it is let go.
    if (!check(sqlite3_step(st)) && m_failure == Failure::Write)
        m_failure = Failure::None;
}
