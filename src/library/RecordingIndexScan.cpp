#include "RecordingIndex.h"

#include "IndexedHeader.h"
#include "RecordingIndexRows.h"
#include "platform/Paths.h"

#include <QFile>
#include <QSet>
#include <cerrno>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace IndexRows;

namespace {

// How many entries of earlier scans are kept in memory (some hundred bytes each).
constexpr qsizetype kKeptEntries = 20000;

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

QString columnText(sqlite3_stmt* st, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, column)),
                             sqlite3_column_bytes(st, column));
}

void bindText(sqlite3_stmt* st, int index, const QByteArray& text)
{
    sqlite3_bind_text(st, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
}

void bindStamp(sqlite3_stmt* st, int first, const FileStamp& stamp)
{
    sqlite3_bind_int64(st, first, sqlite3_int64(stamp.device));
    sqlite3_bind_int64(st, first + 1, sqlite3_int64(stamp.inode));
    sqlite3_bind_int64(st, first + 2, stamp.size);
    sqlite3_bind_int64(st, first + 3, stamp.modifiedNs);
    sqlite3_bind_int64(st, first + 4, stamp.changedNs);
}

// Whether a folder is gone from a folder that is still there.
bool goneFromItsParent(const QString& folder)
{
    const QByteArray path = QFile::encodeName(RemoveTrailingSeparator(folder));
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 || errno != ENOENT)
        return false;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return false;
    return ::stat(path.left(slash).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

void RecordingIndex::beginScan()
{
    if (!ensureOpen() || m_scanning)
        return;
    endWalk();
    m_scanning = true;
    m_pending.clear();
    // A file that cannot be written now (read-only, another process writing
    // beyond the busy time) leaves this scan to memory.
    m_inTransaction = check(sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    m_writable = m_inTransaction;
    settle();
}

void RecordingIndex::endScan()
{
    m_folders.clear();
    // A file that cannot take the scan's writes (full, over the file-size limit)
    // leaves them to memory.
    if (m_db && m_inTransaction && !check(sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr))) {
        settle();
        if (m_db && m_inTransaction && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    m_inTransaction = false;
    m_writable = false;
    m_scanning = false;
    m_pending.clear();
    settle();
}

int64_t RecordingIndex::folderId(const QString& folder, bool create)
{
    const QByteArray path = utf8(folder);
    if (sqlite3_stmt* st = statement("SELECT id FROM folders WHERE path = ?")) {
        const Reset reset{st};
        bindText(st, 1, path);
        if (sqlite3_step(st) == SQLITE_ROW)
            return sqlite3_column_int64(st, 0);
    }
    if (!create || !m_writable)
        return 0;
    sqlite3_stmt* st = statement("INSERT INTO folders(path) VALUES (?)");
    if (!st)
        return 0;
    const Reset reset{st};
    bindText(st, 1, path);
    if (!check(sqlite3_step(st)))
        return 0;
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

int64_t RecordingIndex::templateIdOf(const QByteArray& bytes)
{
    if (const auto known = m_templateIds.constFind(bytes); known != m_templateIds.cend())
        return *known;
    sqlite3_stmt* find = statement("SELECT id FROM templates WHERE bytes = ?");
    if (!find)
        return 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            const Reset reset{find};
            sqlite3_bind_blob(find, 1, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
            if (sqlite3_step(find) == SQLITE_ROW) {
                const int64_t id = sqlite3_column_int64(find, 0);
                m_templateIds.insert(bytes, id);
                return id;
            }
        }
        sqlite3_stmt* insert = m_writable && attempt == 0 ? statement("INSERT INTO templates(bytes) VALUES (?)") : nullptr;
        if (!insert)
            return 0;
        const Reset reset{insert};
        sqlite3_bind_blob(insert, 1, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
        if (!check(sqlite3_step(insert)))
            return 0;
    }
    return 0;
}

bool RecordingIndex::headerOf(int64_t templateId, const IndexedHeader& fields, tagVoiceHeader& header)
{
    auto known = m_templates.constFind(templateId);
    if (known == m_templates.cend()) {
        sqlite3_stmt* st = statement("SELECT bytes FROM templates WHERE id = ?");
        if (!st)
            return false;
        const Reset reset{st};
        sqlite3_bind_int64(st, 1, templateId);
        tagVoiceHeader unfolded;
        if (sqlite3_step(st) != SQLITE_ROW || !UnfoldTemplate(columnBlob(st, 0), unfolded))
            return false;
        known = m_templates.insert(templateId, unfolded);
    }
    header = *known;
    return ApplyRecordingFields(fields, header);
}

void RecordingIndex::bindFields(sqlite3_stmt* st, int first, int64_t templateId, const IndexedHeader& fields)
{
    sqlite3_bind_int64(st, first, templateId);
    sqlite3_bind_int(st, first + 1, fields.mode);
    sqlite3_bind_int(st, first + 2, fields.states);
    if (fields.marks.isEmpty())
        sqlite3_bind_null(st, first + 3);
    else
        sqlite3_bind_blob(st, first + 3, fields.marks.constData(), int(fields.marks.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(st, first + 4, fields.memoBytes.constData(), int(fields.memoBytes.size()), SQLITE_TRANSIENT);
    const QByteArray memo = utf8(fields.memo);
    sqlite3_bind_text(st, first + 5, memo.constData(), int(memo.size()), SQLITE_TRANSIENT);
}

void RecordingIndex::beginFolder(const QString& folder)
{
    if (!ensureOpen())
        return;
    m_usedFile = true;
    m_folders.push_back(takeFolder(folder));
    settle();
}

std::unique_ptr<RecordingIndex::FolderState> RecordingIndex::takeFolder(const QString& folder)
{
    for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
        if ((*kept)->path != folder)
            continue;
        std::unique_ptr<FolderState> state = std::move(*kept);
        m_kept.erase(kept);
        for (Entry& entry : state->entries)
            entry.seen = false;
        state->listed = false;
        if (!state->id)
            state->id = folderId(folder, false);
        return state;
    }
    auto state = std::make_unique<FolderState>();
    state->path = folder;
    loadEntries(*state);
    return state;
}

void RecordingIndex::loadEntries(FolderState& state)
{
    QSet<QString> seen;
    for (auto entry = state.entries.cbegin(); entry != state.entries.cend(); ++entry) {
        if (entry->seen)
            seen.insert(entry.key());
    }
    state.entries.clear();
    state.id = folderId(state.path, false);
    sqlite3_stmt* st = state.id ? statement("SELECT name, dev, ino, size, mtime, ctime, created, duration, "
                                            "template, mode, states, marks, memo_bytes, memo FROM recordings WHERE folder = ?")
                                : nullptr;
    if (st) {
        const Reset reset{st};
        sqlite3_bind_int64(st, 1, state.id);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const QString name = columnText(st, 0);
            // One name twice in a folder cannot be: the file is damaged.
            if (state.entries.contains(name)) {
                rc = SQLITE_CORRUPT;
                break;
            }
            Entry entry;
            entry.stamp = columnStamp(st, 1);
            entry.created = sqlite3_column_int64(st, 6);
            entry.duration = uint32_t(sqlite3_column_int64(st, 7));
            entry.templateId = sqlite3_column_int64(st, 8);
            entry.fields.mode = sqlite3_column_int(st, 9);
            entry.fields.states = sqlite3_column_int(st, 10);
            entry.fields.marks = columnBlob(st, 11);
            entry.fields.memoBytes = columnBlob(st, 12);
            entry.fields.memo = columnText(st, 13);
            entry.seen = seen.contains(name);
            state.entries.insert(name, std::move(entry));
        }
        if (!check(rc))
            state.entries.clear();
    }
}

void RecordingIndex::keepFolder(std::unique_ptr<FolderState> state)
{
    if (!m_db || state->entries.size() > kKeptEntries)
        return;
    m_kept.insert(m_kept.begin(), std::move(state));
    qsizetype total = 0;
    for (auto kept = m_kept.begin(); kept != m_kept.end(); ++kept) {
        total += (*kept)->entries.size();
        if (total > kKeptEntries) {
            m_kept.erase(kept, m_kept.end());
            break;
        }
    }
}

void RecordingIndex::updateKept(const QString& folder, const QString& fileName, const FileStamp* stamp,
                                int64_t templateId, const IndexedHeader& fields)
{
    for (const auto& kept : m_kept) {
        if (kept->path != folder)
            continue;
        const auto entry = kept->entries.find(fileName);
        if (entry == kept->entries.end())
            continue;
        FileStamp before = entry->stamp;
        if (stamp)
            before.changedNs = stamp->changedNs;
        if (!stamp || !(before == *stamp)) {
            kept->entries.erase(entry);
            continue;
        }
        entry->stamp = *stamp;
        entry->templateId = templateId;
        entry->fields = fields;
    }
}

void RecordingIndex::endFolder()
{
    if (m_folders.empty())
        return;
    std::unique_ptr<FolderState> state = std::move(m_folders.back());
    m_folders.pop_back();
    forgetListing(*state);
    // The files not met any more are gone from the folder.
    bool deleting = m_writable && state->id;
    for (auto it = state->entries.begin(); it != state->entries.end();) {
        if (it->seen) {
            ++it;
            continue;
        }
        if (deleting) {
            if (!m_inMemory)
                m_pending.push_back({state->path, it.key(), false, {}, {}});
            deleting = deleteEntry(state->id, it.key());
        }
        it = state->entries.erase(it);
    }
    const int switches = m_switches;
    settle();
    // Entries of the file left behind by a switch to memory are not kept.
    if (switches == m_switches)
        keepFolder(std::move(state));
}

bool RecordingIndex::deleteEntry(int64_t folder, const QString& fileName)
{
    sqlite3_stmt* st = statement("DELETE FROM recordings WHERE folder = ? AND name = ?");
    if (!st)
        return false;
    const Reset reset{st};
    sqlite3_bind_int64(st, 1, folder);
    bindText(st, 2, utf8(fileName));
    return check(sqlite3_step(st));
}

bool RecordingIndex::lookup(const QString& fileName, const FileStamp& stamp, tagFileList& record)
{
    if (m_folders.empty())
        return false;
    const auto it = m_folders.back()->entries.find(fileName);
    if (it == m_folders.back()->entries.end())
        return false;
    it->seen = true;
    if (!(it->stamp == stamp))
        return false;
    if (!headerOf(it->templateId, it->fields, record.header))
        return false;
    record.tmCreate = it->created;
    record.nDuration = it->duration;
    record.nFileSize = uint32_t(stamp.size);
    return true;
}

void RecordingIndex::store(const QString& fileName, const FileStamp& stamp, const tagFileList& record)
{
    if (m_folders.empty())
        return;
    FolderState& folder = *m_folders.back();
    // What the entry said no longer holds; it holds again only once written.
    folder.entries.remove(fileName);
    if (!m_writable)
        return;
    if (!m_inMemory)
        m_pending.push_back({folder.path, fileName, true, stamp, record});
    if (!folder.id)
        folder.id = folderId(folder.path, true);
    int64_t templateId = 0;
    if (folder.id && writeEntry(folder.id, fileName, stamp, record, templateId))
        folder.entries.insert(fileName, Entry{stamp, record.tmCreate, record.nDuration, templateId,
                                              PackHeader(record.header), true});
    else if (m_failure == Failure::None)
        m_failure = Failure::Write;
    // A full disk, a file-size limit or a lock lost: the scan goes on in memory.
    settle();
}

bool RecordingIndex::writeEntry(int64_t folder, const QString& fileName, const FileStamp& stamp,
                                const tagFileList& record, int64_t& templateId)
{
    const IndexedHeader indexed = PackHeader(record.header);
    templateId = templateIdOf(indexed.templateBytes);
    sqlite3_stmt* st = templateId ? statement(
                           "INSERT INTO recordings(folder, name, dev, ino, size, mtime, ctime, created, "
                           "duration, template, mode, states, marks, memo_bytes, memo) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                           "ON CONFLICT(folder, name) DO UPDATE SET dev = excluded.dev, ino = excluded.ino, "
                           "size = excluded.size, mtime = excluded.mtime, ctime = excluded.ctime, "
                           "created = excluded.created, duration = excluded.duration, template = excluded.template, "
                           "mode = excluded.mode, states = excluded.states, marks = excluded.marks, "
                           "memo_bytes = excluded.memo_bytes, memo = excluded.memo")
                                  : nullptr;
    if (!st)
        return false;
    const Reset reset{st};
    sqlite3_bind_int64(st, 1, folder);
    bindText(st, 2, utf8(fileName));
    bindStamp(st, 3, stamp);
    sqlite3_bind_int64(st, 8, record.tmCreate);
    sqlite3_bind_int64(st, 9, record.nDuration);
    bindFields(st, 10, templateId, indexed);
    return check(sqlite3_step(st));
}

void RecordingIndex::forgetGoneFolders()
{
    if (!ensureOpen() || m_inTransaction)
        return;
    QList<QPair<int64_t, QString>> gone;
    if (sqlite3_stmt* st = statement("SELECT id, path FROM folders")) {
        const Reset reset{st};
        while (sqlite3_step(st) == SQLITE_ROW) {
            const QString path = columnText(st, 1);
            if (goneFromItsParent(path))
                gone.append({sqlite3_column_int64(st, 0), path});
        }
    }
    if (gone.isEmpty() || !m_db || sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    sqlite3_stmt* entries = statement("DELETE FROM recordings WHERE folder = ?");
    sqlite3_stmt* listing = statement("DELETE FROM folder_listing WHERE folder = ?");
    sqlite3_stmt* folders = statement("DELETE FROM folders WHERE id = ?");
    bool ok = entries && listing && folders;
    for (const QPair<int64_t, QString>& folder : std::as_const(gone)) {
        for (sqlite3_stmt* st : {entries, listing, folders}) {
            if (!ok)
                break;
            const Reset reset{st};
            sqlite3_bind_int64(st, 1, folder.first);
            ok = check(sqlite3_step(st));
        }
        const QString& path = folder.second;
        std::erase_if(m_kept, [&path](const std::unique_ptr<FolderState>& kept) { return kept->path == path; });
    }
    if (m_db && (!ok || sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) && m_db)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    // The entries of gone folders are never reported: only their room is lost.
    settleKeepingTheFile();
}

void RecordingIndex::headerWritten(const QString& path, const FileStamp& stamp, const tagVoiceHeader& header)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || !ensureOpen())
        return;
    // Only an entry of the same file whose times were put back stays true in
    // everything but the header; any other is read again when next met.
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    const bool ownTransaction = !m_inTransaction;
    if (ownTransaction && sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    const bool wasWritable = m_writable;
    m_writable = true;
    const IndexedHeader indexed = PackHeader(header);
    const int64_t templateId = templateIdOf(indexed.templateBytes);
    bool updated = false;
    sqlite3_stmt* st = templateId ? statement("UPDATE recordings SET template = ?, mode = ?, states = ?, marks = ?, "
                                              "memo_bytes = ?, memo = ?, ctime = ? "
                                              "WHERE folder = (SELECT id FROM folders WHERE path = ?) AND name = ? "
                                              "AND dev = ? AND ino = ? AND size = ? AND mtime = ?")
                                  : nullptr;
    if (st) {
        const Reset reset{st};
        bindFields(st, 1, templateId, indexed);
        sqlite3_bind_int64(st, 7, stamp.changedNs);
        bindText(st, 8, utf8(folder));
        bindText(st, 9, utf8(name));
        sqlite3_bind_int64(st, 10, sqlite3_int64(stamp.device));
        sqlite3_bind_int64(st, 11, sqlite3_int64(stamp.inode));
        sqlite3_bind_int64(st, 12, stamp.size);
        sqlite3_bind_int64(st, 13, stamp.modifiedNs);
        updated = check(sqlite3_step(st)) && m_db && sqlite3_changes(m_db) > 0;
    }
    m_writable = wasWritable;
    if (ownTransaction && m_db && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK && m_db) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        updated = false;
    }
    updateKept(folder, name, updated ? &stamp : nullptr, templateId, indexed);
    // An entry not brought in step is read again when next met.
    settleKeepingTheFile();
}
