#pragma once

#include "platform/FolderMemo.h"
#include "recording/ScanCache.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct IndexedHeader;

// A place a search covers: a folder, and with recursive its subfolders too.
struct SearchPlace
{
    SearchPlace() = default;
    SearchPlace(QString folder, bool recursive, QString label = {})
        : folder(std::move(folder)), recursive(recursive), label(std::move(label))
    {
    }

    QString folder; // with its trailing separator
    bool recursive = false;
    QString label; // how the window names the place (its tree's names); empty: none
};

// What to look for; empty texts and unset limits match everything.
struct SearchQuery
{
    QString memo;                  // a substring of the memo (any script)
    QString name;                  // a substring of the file name
    int64_t from = INT64_MIN;      // creation time range, seconds since 1970, both ends included
    int64_t to = INT64_MAX;
    bool protectedOnly = false;
    bool unplayedOnly = false;
    bool untransferredOnly = false;
};

struct SearchHit
{
    tagFileList record;
    QString folder; // the folder the file lies in, with its trailing separator
};

// What a search could not answer for: a caller that wants what a fresh index
// gives reads the files named again and searches once more.
struct SearchOutcome
{
    bool complete = true;  // false when the index failed or proved damaged during the search
    QStringList changed;   // files whose entries no longer hold (changed since they were read)
};

// The per-user index of what was read from each recording, in an SQLite file
// under the user's cache folder. It is a cache and nothing else: an entry is
// used only while its file's stamp holds, and a file that is corrupt, of
// another schema version, locked by another process or on a full disk is
// rebuilt or done without, silently. Other processes may use the same file at
// once (the window and the tool); a writer waits at most the busy time given.
// Done without means kept in memory: where the file cannot be opened as a
// regular file, cannot be written (read-only, full, over the file-size limit,
// locked) or proves damaged, the index goes on in memory for the rest of the
// process, with what the file held when it was sound and what this process read
// since, so that its searches still answer for everything it scanned.
class RecordingIndex : public ScanCache, public FolderMemo
{
public:
    // ~/.cache/Corvane/TALVEN-77-PC Player/index.sqlite (XDG_CACHE_HOME honoured).
    static QString DefaultLocation();

    explicit RecordingIndex(const QString& file = DefaultLocation(), int busyTimeoutMs = 50);
    ~RecordingIndex() override;
    RecordingIndex(const RecordingIndex&) = delete;
    RecordingIndex& operator=(const RecordingIndex&) = delete;

    // Whether the index file is in use (opening it when not yet tried), rather
    // than the index in memory.
    bool isOpen() { return ensureOpen() && !m_inMemory; }
    // Counts the times what this process had read into the index was lost (a
    // damaged file dropped): a caller that scanned before it searches scans again.
    int losses() const { return m_losses; }
    const QString& file() const { return m_file; }

    void beginScan() override;
    void endScan() override;
    void beginFolder(const QString& folder) override;
    void endFolder() override;
    bool lookup(const QString& fileName, const FileStamp& stamp, tagFileList& record) override;
    void store(const QString& fileName, const FileStamp& stamp, const tagFileList& record) override;
    void headerWritten(const QString& path, const FileStamp& stamp, const tagVoiceHeader& header) override;
    void folderListed(const FolderStamp& stamp, const FolderListing& listing) override;

    // Whether the folder (path with its trailing separator, open as fd, whose stamp
    // is given) is still as its last whole read found it, told without reading it:
    // it has the stamp it had then, and every recording indexed in it and every other
    // file it held still has its own. listing gets what that read met besides the
    // recordings. One stat of each file and nothing else.
    bool folderUnchanged(const QString& folder, int fd, const FolderStamp& stamp, FolderListing& listing);

    // The start-up walk's memo of the save folder's tree. It neither makes an index
    // file nor waits for one: without a file, or with another process writing, the
    // walk reads the folders as it would without a memo.
    void beginWalk() override;
    void endWalk() override;
    bool knownSubfolders(const QByteArray& folder, const FolderStamp& stamp, QList<QByteArray>& names) override;
    void rememberSubfolders(const QByteArray& folder, const FolderStamp& stamp, const QList<QByteArray>& names) override;

    // Forgets the folders that are gone while the folder holding them is still
    // there (deleted or renamed, not a card or share that is away with its whole
    // tree); what they held is of no use to any scan or search again.
    void forgetGoneFolders();

    // The indexed recordings of the places that match, ordered by folder, start
    // time and name; entries whose file has changed or gone since are left out.
    // At most limit hits (0: all). Rows that cannot be right (a recording met
    // twice) are never reported: the index is then dropped as damaged.
    QList<SearchHit> search(const SearchQuery& query, const QList<SearchPlace>& places, int limit = 0,
                            SearchOutcome* outcome = nullptr);

private:
    struct Entry;
    struct FolderState;
    struct PendingWrite;

    bool ensureOpen();
    // Opens the file only when there is one already.
    bool openIfThere();
    void open();
    bool openFile();
    bool prepareSchema();
    void close();
    // Reacts to an SQLite result: true when rc is a success code. A failed write
    // or a damaged file is noted, and dealt with by settle().
    bool check(int rc);
    // Goes on in memory when a failure was noted: from the file's sound contents
    // and the writes of the scan under way, or from nothing when the file proved
    // damaged (which is then removed). Called where no statement is in use.
    void settle();
    // The same where a failed write only leaves an entry to be read again.
    void settleKeepingTheFile();
    void doWithoutTheFile(bool fileIsSound);
    // The in-memory index; false when even that cannot be had.
    bool openMemory();
    // The rows of one recording; false when the write failed.
    bool writeEntry(int64_t folder, const QString& fileName, const FileStamp& stamp, const tagFileList& record,
                    int64_t& templateId);
    bool deleteEntry(int64_t folder, const QString& fileName);
    // Drops the listing of a folder whose scan did not keep one: what it said no longer holds.
    void forgetListing(const FolderState& folder);
    // Reads a folder's entries from the index (after a switch to memory).
    void loadEntries(FolderState& state);
    sqlite3_stmt* statement(const char* sql);
    int64_t folderId(const QString& folder, bool create);
    // The id of a header template, stored when new (and writable); 0 when unknown.
    int64_t templateIdOf(const QByteArray& bytes);
    // The whole header of an entry; false when its template is missing or broken.
    bool headerOf(int64_t templateId, const IndexedHeader& fields, tagVoiceHeader& header);
    static void bindFields(sqlite3_stmt* st, int first, int64_t templateId, const IndexedHeader& fields);
    // The entries of a folder: those kept from an earlier scan, or read from the file.
    std::unique_ptr<FolderState> takeFolder(const QString& folder);
    // Keeps a scanned folder's entries for the next scan of it, within a bound.
    void keepFolder(std::unique_ptr<FolderState> state);
    // Brings what is kept of one file in step with a header written to it (stamp
    // given: the same file, only its header and status-change time moved), or
    // drops it.
    void updateKept(const QString& folder, const QString& fileName, const FileStamp* stamp, int64_t templateId,
                    const IndexedHeader& fields);

    QString m_file;
    int m_busyTimeoutMs;
    sqlite3* m_db = nullptr;
    bool m_openTried = false;
    bool m_inTransaction = false;
    bool m_walking = false; // a walk's transaction is open
    bool m_writable = false;
    bool m_inMemory = false;
    bool m_scanning = false;   // between beginScan and endScan
    int m_switches = 0;        // switches to memory (or to a new memory)
    bool m_usedFile = false;   // entries were read from the file
    int m_losses = 0;
    enum class Failure { None, Write, Damaged };
    Failure m_failure = Failure::None;
    // The writes of the scan under way, to be made again in memory when the
    // file's transaction cannot be committed.
    std::vector<PendingWrite> m_pending;
    QHash<QByteArray, sqlite3_stmt*> m_statements;
    QHash<int64_t, tagVoiceHeader> m_templates;
    QHash<QByteArray, int64_t> m_templateIds;
    std::vector<std::unique_ptr<FolderState>> m_folders;
    // The last folders scanned, newest first: an entry is checked against its file's
    // stamp like any other, so it holds whatever other processes wrote meanwhile.
    std::vector<std::unique_ptr<FolderState>> m_kept;
};
