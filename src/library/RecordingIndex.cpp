#include "RecordingIndex.h"

#include "IndexSoundMark.h"
#include "RecordingIndexRows.h"
#include "platform/ProgramIdentity.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Raised whenever the tables change; a file of another version is rebuilt.
constexpr int kSchemaVersion = 5;

constexpr const char* kSchema = R"(
CREATE TABLE folders(id INTEGER PRIMARY KEY, path TEXT NOT NULL UNIQUE);
CREATE TABLE templates(id INTEGER PRIMARY KEY, bytes BLOB NOT NULL UNIQUE);
CREATE TABLE folder_memo(path BLOB PRIMARY KEY, dev INTEGER, ino INTEGER, mtime INTEGER, ctime INTEGER,
  subfolders BLOB) WITHOUT ROWID;
CREATE TABLE recordings(
  id INTEGER PRIMARY KEY, folder INTEGER NOT NULL, name TEXT NOT NULL,
  dev INTEGER, ino INTEGER, size INTEGER, mtime INTEGER, ctime INTEGER,
  created INTEGER, duration INTEGER, template INTEGER, mode INTEGER, states INTEGER, marks BLOB,
  memo_bytes BLOB, memo TEXT,
  UNIQUE(folder, name));
CREATE VIRTUAL TABLE memo_search USING fts5(memo, content='recordings', content_rowid='id',
  tokenize='trigram');
CREATE TRIGGER recordings_ai AFTER INSERT ON recordings BEGIN
  INSERT INTO memo_search(rowid, memo) VALUES (new.id, new.memo);
END;
CREATE TRIGGER recordings_ad AFTER DELETE ON recordings BEGIN
  INSERT INTO memo_search(memo_search, rowid, memo) VALUES ('delete', old.id, old.memo);
END;
CREATE TRIGGER recordings_au AFTER UPDATE OF memo ON recordings BEGIN
  INSERT INTO memo_search(memo_search, rowid, memo) VALUES ('delete', old.id, old.memo);
  INSERT INTO memo_search(rowid, memo) VALUES (new.id, new.memo);
END;
CREATE TABLE folder_listing(folder INTEGER PRIMARY KEY, dev INTEGER, ino INTEGER, mtime INTEGER, ctime INTEGER,
  subfolders BLOB, undecodable BLOB, others BLOB);
)";

// Whether a path names a regular file or nothing, looked at (through links)
// without opening it: a folder, a FIFO or a device is never opened as the index.
bool regularOrAbsent(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return S_ISREG(st.st_mode);
    return errno == ENOENT;
}

// A quick check of the file's structure: 1 when sound, 0 when damaged, -1 when
// it cannot be told now (another process holds the file).
int quickCheck(sqlite3* db)
{
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &st, nullptr);
    QByteArray answer;
    if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW)
        answer = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        return -1;
    return answer == "ok" ? 1 : 0;
}

} // namespace

QString RecordingIndex::DefaultLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QLatin1Char('/')
        + kCompanyName + QLatin1Char('/') + kProgramTitle + QStringLiteral("/index.sqlite");
}

RecordingIndex::RecordingIndex(const QString& file, int busyTimeoutMs)
    : m_file(file), m_busyTimeoutMs(busyTimeoutMs)
{
}

bool RecordingIndex::ensureOpen()
{
    // Opened when first needed: making a new file takes some milliseconds that a
    // start-up which lists nothing yet need not wait for.
    if (!m_openTried) {
        m_openTried = true;
        open();
        if (!m_db)
            openMemory();
    }
    return m_db != nullptr;
}

RecordingIndex::~RecordingIndex()
{
    if (m_inTransaction)
        endScan();
    endWalk();
    close();
}

void RecordingIndex::open()
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        if (m_file.isEmpty() || !regularOrAbsent(m_file + QLatin1String(suffix)))
            return;
    }
    // A file that is not a database, or one of another version, is replaced once.
    for (int attempt = 0; attempt < 2 && !m_db; ++attempt) {
        if (openFile() && prepareSchema())
            return;
        const bool unusable = m_db == nullptr;
        close();
        if (!unusable)
            break;
        QFile::remove(m_file);
        QFile::remove(m_file + QStringLiteral("-wal"));
        QFile::remove(m_file + QStringLiteral("-shm"));
    }
}

bool RecordingIndex::openFile()
{
    if (m_file.isEmpty() || !QDir().mkpath(QFileInfo(m_file).absolutePath()))
        return false;
    const QByteArray name = QFile::encodeName(m_file);
    constexpr int kFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(name.constData(), &m_db, kFlags, nullptr) != SQLITE_OK) {
        close();
        // A cache folder that cannot be written still serves what is there.
        if (sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr)
            != SQLITE_OK) {
            close();
            return false;
        }
    }
    sqlite3_busy_timeout(m_db, m_busyTimeoutMs);
    // With the write-ahead log, a commit need not wait for the disk: a cache that
    // loses its last transactions to a power cut is still whole.
    sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    sqlite3_extended_result_codes(m_db, 0);
    return true;
}

// Returns false with m_db cleared when the file has to be replaced, false with
// m_db kept when it cannot be used now (locked, read-only and empty).
bool RecordingIndex::prepareSchema()
{
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &st, nullptr);
    int version = -1;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW)
            version = sqlite3_column_int(st, 0);
    }
    sqlite3_finalize(st);
    if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) {
        close();
        return false;
    }
    if (version < 0)
        return false;
    if (version == kSchemaVersion) {
        // Pages damaged on the disk give rows that cannot be right (a recording
        // twice, one missing) long before a read fails: the file is checked once,
        // and again only once something has written to it since.
        const std::optional<FileStamp> before = m_inMemory ? std::nullopt : QuietIndexStamp(m_file);
        if (before && FoundSoundAt(m_file, *before))
            return true;
        const int sound = quickCheck(m_db);
        if (sound == 0)
            close();
        if (sound == 1 && before && QuietIndexStamp(m_file) == before)
            MarkFoundSound(m_file, *before);
        return sound == 1;
    }
    if (version != 0) {
        close();
        return false;
    }
    // A new file: WAL lets the window read while the tool writes, and the other
    // way round; a file system that cannot do it keeps the rollback journal.
    sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    // Another process may have made the tables while this one waited.
    st = nullptr;
    sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &st, nullptr);
    const bool made = st && sqlite3_step(st) == SQLITE_ROW && sqlite3_column_int(st, 0) == kSchemaVersion;
    sqlite3_finalize(st);
    const QByteArray setVersion = "PRAGMA user_version=" + QByteArray::number(kSchemaVersion);
    if (!made
        && (sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK
            || sqlite3_exec(m_db, setVersion.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool RecordingIndex::openIfThere()
{
    if (!m_openTried && !QFileInfo::exists(m_file))
        return false;
    return ensureOpen();
}

void RecordingIndex::close()
{
    for (sqlite3_stmt* st : std::as_const(m_statements))
        sqlite3_finalize(st);
    m_statements.clear();
    m_templates.clear();
    m_templateIds.clear();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_inTransaction = false;
    m_walking = false;
    m_writable = false;
}

bool RecordingIndex::check(int rc)
{
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE)
        return true;
    if (rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB)
        m_failure = Failure::Damaged;
    else if (m_failure == Failure::None)
        m_failure = Failure::Write;
    return false;
}

bool RecordingIndex::openMemory()
{
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_MEMORY;
    if (sqlite3_open_v2(":memory:", &m_db, flags, nullptr) != SQLITE_OK) {
        close();
        return false;
    }
    m_inMemory = true;
    sqlite3_extended_result_codes(m_db, 0);
    if (!prepareSchema()) {
        close();
        return false;
    }
    return true;
}

void RecordingIndex::settle()
{
    if (m_failure == Failure::None)
        return;
    const bool fileIsSound = m_failure == Failure::Write && !m_inMemory;
    m_failure = Failure::None;
    doWithoutTheFile(fileIsSound);
}

void RecordingIndex::settleKeepingTheFile()
{
    if (m_failure == Failure::Write)
        m_failure = Failure::None;
    settle();
}

void RecordingIndex::doWithoutTheFile(bool fileIsSound)
{
    const bool wasInMemory = m_inMemory;
    sqlite3* const previous = m_db;
    if (previous && (m_inTransaction || m_walking))
        sqlite3_exec(previous, "ROLLBACK", nullptr, nullptr, nullptr);
    for (sqlite3_stmt* st : std::as_const(m_statements))
        sqlite3_finalize(st);
    m_statements.clear();
    m_templates.clear();
    m_templateIds.clear();
    m_kept.clear();
    m_db = nullptr;
    m_inTransaction = false;
    m_walking = false;
    m_writable = false;
    ++m_switches;

    // What the file held when it was last sound, as the starting point in memory.
    bool copied = false;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_MEMORY;
    if (previous && fileIsSound && sqlite3_open_v2(":memory:", &m_db, flags, nullptr) == SQLITE_OK) {
        sqlite3_backup* backup = sqlite3_backup_init(m_db, "main", previous, "main");
        copied = backup && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
        copied = sqlite3_backup_finish(backup) == SQLITE_OK && copied;
        m_inMemory = true;
        sqlite3_extended_result_codes(m_db, 0);
        copied = copied && prepareSchema();
    }
    if (previous)
        sqlite3_close_v2(previous);
    if (!copied) {
        close();
        if (!wasInMemory && !fileIsSound) {
            // Damaged: the next process makes it anew.
            for (const char* suffix : {"", "-wal", "-shm"})
                QFile::remove(m_file + QLatin1String(suffix));
        }
        if (m_usedFile)
            ++m_losses;
        if (!openMemory())
            return;
    }
    if (!m_scanning)
        return;
    // The scan under way goes on in memory with what it wrote so far.
    m_inTransaction = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    m_writable = m_inTransaction;
    const std::vector<PendingWrite> pending = std::move(m_pending);
    m_pending.clear();
    for (const PendingWrite& write : pending) {
        const int64_t folder = folderId(write.folder, write.store);
        int64_t templateId = 0;
        if (folder && write.store)
            writeEntry(folder, write.fileName, write.stamp, write.record, templateId);
        else if (folder)
            deleteEntry(folder, write.fileName);
    }
    for (const auto& state : m_folders)
        loadEntries(*state);
    // A failure in memory is not made good again: the scans only miss.
    if (m_failure == Failure::Write)
        m_failure = Failure::None;
}

sqlite3_stmt* RecordingIndex::statement(const char* sql)
{
    if (!m_db)
        return nullptr;
    const QByteArray key = QByteArray::fromRawData(sql, int(qstrlen(sql)));
    if (sqlite3_stmt* cached = m_statements.value(key))
        return cached;
    sqlite3_stmt* st = nullptr;
    if (!check(sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr)))
        return nullptr;
    m_statements.insert(key, st);
    return st;
}
