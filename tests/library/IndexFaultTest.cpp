#include "IndexFixture.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestMounts.h"
#include "TestRegistry.h"
#include "library/FreshSearch.h"
#include "platform/Cp932.h"
#include "recording/RecordingFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QDateTime tokyo(int day)
{
    return QDateTime(QDate(2024, 7, 1), QTime(9, 0)).addDays(day); // tests run with TZ=Asia/Tokyo
}

void writeRecording(const QString& path, const QString& memo, int day)
{
    QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1, memo), ShortSpeechAudio()), tokyo(day)));
}

// Scans the tree (or the folders asked for) through the index, as the tool does.
RefreshFolders refreshOf(const QString& top, RecordingIndex& index)
{
    return [top, &index](const QStringList& folders) {
        QStringList unread;
        SetScanCache(&index);
        for (const QString& folder : folders.isEmpty() ? QStringList{top} : folders) {
            CFileList list(kListTemporaryTree, folders.isEmpty());
            list.SetFolder(folder);
            list.EnsureScanned();
            unread += list.unreadFiles();
        }
        SetScanCache(nullptr);
        return unread;
    };
}

QList<tagFileList> recordsOf(const QList<SearchHit>& hits)
{
    QList<tagFileList> records;
    for (const SearchHit& hit : hits)
        records.append(hit.record);
    return records;
}

QStringList searchThrough(RecordingIndex& index, const QString& top, const QString& memo, bool* complete = nullptr)
{
    SearchQuery query;
    query.memo = memo;
    const FreshSearchResult found = SearchFreshly(index, query, {{top + u'/', true}}, refreshOf(top, index));
    if (complete)
        *complete = found.complete();
    return Describe(recordsOf(found.hits));
}

// Flips bytes all through the pages after the first (which says what the file is).
void damagePages(const QString& file)
{
    QByteArray bytes = ReadWholeFile(file);
    QVERIFY(bytes.size() > 4 * 4096);
    for (qsizetype at = 4096 + 60; at < bytes.size(); at += 331)
        bytes[at] = char(bytes[at] ^ 0xA5);
    QVERIFY(WriteFileBytes(file, bytes));
}

bool exec(const QString& file, const char* sql)
{
    sqlite3* db = nullptr;
    const bool done = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK
        && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return done;
}

// Rows that the file's structure allows but that cannot be right: the same
// recording twice in a folder.
void duplicateRows(const QString& file)
{
    QVERIFY(exec(file, "PRAGMA writable_schema=ON;"
                       "UPDATE sqlite_schema SET sql = replace(sql, ',' || char(10) || '  UNIQUE(folder, name))', ')')"
                       " WHERE name = 'recordings';"
                       "DELETE FROM sqlite_schema WHERE name = 'sqlite_autoindex_recordings_1';"));
    QVERIFY(exec(file, "VACUUM;"
                       "INSERT INTO recordings(folder, name, dev, ino, size, mtime, ctime, created, duration, template,"
                       " mode, states, marks, memo_bytes, memo) SELECT folder, name, dev, ino, size, mtime, ctime,"
                       " created, duration, template, mode, states, marks, memo_bytes, memo FROM recordings;"));
}

} // namespace

class IndexFaultTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    QString next(const char* what) { return m_dir.filePath(QStringLiteral("%1-%2").arg(QLatin1String(what)).arg(++m_count)); }

    // Twelve recordings in three folders, eight of them with 会議 in the memo.
    QString makeTree(int count = 12)
    {
        const QString top = next("tree");
        QDir().mkpath(top + QStringLiteral("/a/b"));
        for (int i = 0; i < count; ++i) {
            const QString folder = i % 3 == 0 ? top : i % 3 == 1 ? top + QStringLiteral("/a") : top + QStringLiteral("/a/b");
            writeRecording(folder + QStringLiteral("/r%1.mp3").arg(i, 2, 10, QLatin1Char('0')),
                           i % 4 == 3 ? QStringLiteral("電話 %1").arg(i) : QStringLiteral("会議 %1").arg(i), i);
        }
        return top;
    }

    // What a search through an index made afresh answers.
    QStringList freshAnswer(const QString& top, const QString& memo)
    {
        RecordingIndex index(next("fresh") + QStringLiteral("/index.sqlite"));
        ScanTree(top, &index);
        SearchQuery query;
        query.memo = memo;
        return Describe(recordsOf(index.search(query, {{top + u'/', true}})));
    }

    // An index of the tree as an earlier run leaves it.
    void indexOnce(const QString& file, const QString& top)
    {
        RecordingIndex index(file);
        QVERIFY(index.isOpen());
        ScanTree(top, &index);
    }

private Q_SLOTS:
    // A damaged index gives the answer of a fresh one, on the first run and the next.
    void damagedIndexIsRebuilt_data()
    {
        QTest::addColumn<QString>("damage");
        // Whether a process found the file sound before the damage: what spares the
        // next ones the check must not spare them the damage.
        QTest::addColumn<bool>("foundSoundBefore");
        QTest::newRow("bytes flipped in its pages") << "pages" << false;
        QTest::newRow("one recording twice") << "duplicates" << false;
        QTest::newRow("bytes flipped after a sound open") << "pages" << true;
        QTest::newRow("one recording twice after a sound open") << "duplicates" << true;
    }
    void damagedIndexIsRebuilt()
    {
        QFETCH(QString, damage);
        QFETCH(bool, foundSoundBefore);
        const QString top = makeTree();
        const QString file = next("cache") + QStringLiteral("/index.sqlite");
        indexOnce(file, top);
        if (foundSoundBefore) {
            for (int run = 0; run < 2; ++run) {
                RecordingIndex index(file);
                QVERIFY(index.isOpen());
                QCOMPARE(searchThrough(index, top, QStringLiteral("会議")).size(), 9);
            }
            QVERIFY(QFile::exists(file + QStringLiteral("-checked")));
        }
        if (damage == QLatin1String("pages"))
            damagePages(file);
        else
            duplicateRows(file);
        const QStringList fresh = freshAnswer(top, QStringLiteral("会議"));
        QCOMPARE(fresh.size(), 9);
        for (int run = 0; run < 2; ++run) {
            RecordingIndex index(file);
            bool complete = false;
            QCOMPARE(searchThrough(index, top, QStringLiteral("会議"), &complete), fresh);
            QVERIFY(complete);
        }
        // The next process has a sound file again.
        RecordingIndex index(file);
        QVERIFY(index.isOpen());
        QCOMPARE(searchThrough(index, top, QStringLiteral("会議")), fresh);
    }

    // Whatever is at the index's path is left alone and never waited on.
    void oddIndexPathIsDoneWithout_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder") << "folder";
        QTest::newRow("a FIFO") << "fifo";
        QTest::newRow("a link to a device") << "device";
        QTest::newRow("a file where the cache folder should be") << "parent";
        QTest::newRow("a FIFO at the write-ahead log's path") << "wal";
    }
    void oddIndexPathIsDoneWithout()
    {
        QFETCH(QString, kind);
        const QString top = makeTree();
        const QString cache = next("odd-cache");
        QString file = cache + QStringLiteral("/index.sqlite");
        QVERIFY(QDir().mkpath(cache));
        QString odd = file;
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(file));
        } else if (kind == QLatin1String("fifo")) {
            QVERIFY(MakeFifo(file));
        } else if (kind == QLatin1String("device")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), file));
        } else if (kind == QLatin1String("parent")) {
            QVERIFY(WriteFileBytes(cache + QStringLiteral("/file"), "x"));
            file = cache + QStringLiteral("/file/index.sqlite");
            odd = cache + QStringLiteral("/file");
        } else {
            indexOnce(file, top);
            odd = file + QStringLiteral("-wal");
            QVERIFY(MakeFifo(odd));
        }
        struct stat before {};
        QCOMPARE(::lstat(QFile::encodeName(odd).constData(), &before), 0);
        const QStringList fresh = freshAnswer(top, QStringLiteral("会議"));
        QStringList found;
        bool complete = false;
        // A reader stuck on a FIFO is let go by writing bytes into it.
        const auto unblock = [odd] {
            const int fd = ::open(QFile::encodeName(odd).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                const QByteArray junk(4096, 'j');
                [[maybe_unused]] const auto written = ::write(fd, junk.constData(), size_t(junk.size()));
                ::close(fd);
            }
        };
        QVERIFY(FinishesWithin(
            10000,
            [&] {
                RecordingIndex index(file);
                found = searchThrough(index, top, QStringLiteral("会議"), &complete);
            },
            unblock));
        QCOMPARE(found, fresh);
        QVERIFY(complete);
        struct stat after {};
        QCOMPARE(::lstat(QFile::encodeName(odd).constData(), &after), 0);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_ino, before.st_ino);
    }

    // An index that cannot be written still answers for what the scan read: the
    // recordings added and the one changed since it was written.
    void unwritableIndexStillAnswers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("file-size limit") << "limit";
        QTest::newRow("full file system") << "full";
        QTest::newRow("read-only cache folder") << "read-only folder";
        QTest::newRow("read-only index file") << "read-only file";
    }
    void unwritableIndexStillAnswers()
    {
        QFETCH(QString, kind);
        const bool root = geteuid() == 0;
        if (kind == QLatin1String("read-only file") && root)
            QSKIP("root writes into read-only files");
        if ((kind == QLatin1String("full") || kind == QLatin1String("read-only folder")) && !root)
            QSKIP("mounting needs root");
        const QString top = makeTree();
        const QString cache = next("unwritable-cache");
        QVERIFY(QDir().mkpath(cache));
        std::optional<ScopedMount> mount;
        if (kind == QLatin1String("full")) {
            mount.emplace(ScopedMount::Memory(cache, "256k"));
            if (!mount->mounted())
                QSKIP("no tmpfs can be mounted here");
        }
        const QString file = cache + QStringLiteral("/index.sqlite");
        indexOnce(file, top);
        // Changed and added after the index was written.
        writeRecording(top + QStringLiteral("/r00.mp3"), QStringLiteral("会議 変更"), 0);
        for (int i = 0; i < 40; ++i)
            writeRecording(top + QStringLiteral("/a/new%1.mp3").arg(i), QStringLiteral("会議 追加 %1").arg(i), i);
        const QStringList fresh = freshAnswer(top, QStringLiteral("会議"));
        QCOMPARE(fresh.size(), 49);

        std::optional<FileSizeLimit> limit;
        if (kind == QLatin1String("limit")) {
            limit.emplace(8192);
            QVERIFY(limit->ok());
        } else if (kind == QLatin1String("full")) {
            QFile filler(cache + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(4096, 'f');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            filler.close();
        } else if (kind == QLatin1String("read-only folder")) {
            mount.reset();
            mount.emplace(ScopedMount::ReadOnly(cache));
            if (!mount->mounted())
                QSKIP("no read-only bind mount here");
        } else {
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        for (int run = 0; run < 2; ++run) {
            RecordingIndex index(file);
            bool complete = false;
            QCOMPARE(searchThrough(index, top, QStringLiteral("会議"), &complete), fresh);
            QVERIFY(complete);
        }
    }

    // Another program writes to a recording after the scan read it and before the
    // search: the recording is read again, not left out.
    void recordingChangedAfterTheScanIsReadAgain()
    {
        const QString top = makeTree();
        const QString changed = top + QStringLiteral("/a/r01.mp3");
        RecordingIndex index(next("cache") + QStringLiteral("/index.sqlite"));
        const RefreshFolders plain = refreshOf(top, index);
        int refreshes = 0;
        const auto refreshThenEdit = [&](const QStringList& folders) {
            const QStringList unread = plain(folders);
            if (refreshes++ == 0) // rewritten in place with its times put back, as an editor does
                writeRecording(changed, QStringLiteral("会議 書き換え"), 1);
            return unread;
        };
        SearchQuery query;
        query.memo = QStringLiteral("会議");
        const FreshSearchResult found = SearchFreshly(index, query, {{top + u'/', true}}, refreshThenEdit);
        QVERIFY(found.complete());
        QCOMPARE(Describe(recordsOf(found.hits)), freshAnswer(top, QStringLiteral("会議")));
        QVERIFY(refreshes >= 2);
    }

    // A recording that another operation holds (its header being written) is
    // waited for; one held beyond the wait is named as unread, never dropped silently.
    void heldRecordingIsWaitedForOrNamed_data()
    {
        QTest::addColumn<int>("refusals"); // how often the lock is refused; -1: always
        QTest::addColumn<bool>("listed");
        QTest::newRow("held for a moment") << 3 << true;
        QTest::newRow("held throughout") << -1 << false;
    }
    void heldRecordingIsWaitedForOrNamed()
    {
        QFETCH(int, refusals);
        QFETCH(bool, listed);
        const QString top = makeTree(3);
        const QList<tagFileList> all = ScanTree(top, nullptr);
        QCOMPARE(all.size(), 3);
        const QString held = all[1].szFilePath;
        const QByteArray heldPath = QFile::encodeName(held);
        int refused = 0;
        RecordingFile::SetLockFunction([&](int fd, int operation) {
            char link[PATH_MAX] = {};
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
            const ssize_t length = ::readlink(self.constData(), link, sizeof link - 1);
            if (length > 0 && QByteArray(link, int(length)) == heldPath && (refusals < 0 || refused < refusals)) {
                ++refused;
                errno = EWOULDBLOCK;
                return -1;
            }
            return ::flock(fd, operation);
        });
        CFileList list(kListTemporaryTree, true);
        list.SetFolder(top);
        list.EnsureScanned();
        RecordingFile::SetLockFunction({});
        QVERIFY(refused > 0);
        if (listed) {
            QCOMPARE(Describe(list.records()), Describe(all));
            QVERIFY(list.unreadFiles().isEmpty());
        } else {
            QCOMPARE(list.GetRecordCount(), 2);
            QCOMPARE(list.unreadFiles(), QStringList{held});
        }
    }
};

TALVEN77_REGISTER_TEST(IndexFaultTest);

#include "IndexFaultTest.moc"
