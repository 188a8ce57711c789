#include "IndexFixture.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/FolderMemo.h"
#include "platform/Cp932.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether the index tells the folder (its path ends in '/') unchanged, as a search asks
// it: 1 told unchanged, with its listing; 0 not; -1 the folder cannot be opened.
int toldUnchanged(RecordingIndex& index, const QString& folder, FolderListing& listing)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    FolderStamp stamp;
    const bool told = FolderStamp::Of(fd, stamp) && index.folderUnchanged(folder, fd, stamp, listing);
    ::close(fd);
    return told ? 1 : 0;
}

QDateTime tokyo(int day, int hour = 10)
{
    return QDateTime(QDate(2024, 5, day), QTime(hour, 0)); // tests run with TZ=Asia/Tokyo
}

void writeRecording(const QString& path, const QString& memo, const QDateTime& time, uint8_t mode = 1)
{
    QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(mode, memo), ShortSpeechAudio()), time));
}

// Sets a file's access and last-write times back to those of a snapshot.
void putTimesBack(const QString& path, const struct stat& before)
{
    const timespec times[2] = {before.st_atim, before.st_mtim};
    QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

// Rewrites one memo byte in place, as another program would, and puts the times back.
void editMemoElsewhere(const QString& path)
{
    struct stat before {};
    QCOMPARE(stat(QFile::encodeName(path).constData(), &before), 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const QByteArray memo = UnicodeToCp932(QStringLiteral("会議")).bytes;
    const int at = int(bytes.indexOf(memo));
    QVERIFY(at > 0);
    bytes.replace(at, memo.size(), UnicodeToCp932(QStringLiteral("商談")).bytes);
    QVERIFY(file.seek(0));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    putTimesBack(path, before);
}

// Puts a file of the same size and times but another memo in place by rename(2).
void replaceByRename(const QString& path)
{
    struct stat before {};
    QCOMPARE(stat(QFile::encodeName(path).constData(), &before), 0);
    const QString other = path + QStringLiteral(".new");
    writeRecording(other, QStringLiteral("別件"), {});
    putTimesBack(other, before);
    QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
}

} // namespace

class IndexScanTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_trees = 0;

    QString indexFile() const { return m_dir.filePath(QStringLiteral("cache/index.sqlite")); }

    // top/a.mp3 b.mp3 notes.txt, top/sub/c.mp3, top/sub/deeper/d.mp3
    QString makeTree()
    {
        const QString top = m_dir.filePath(QStringLiteral("tree%1").arg(++m_trees));
        QDir().mkpath(top + QStringLiteral("/sub/deeper"));
        writeRecording(top + QStringLiteral("/a.mp3"), QStringLiteral("会議の議事録"), tokyo(1));
        writeRecording(top + QStringLiteral("/b.mp3"), QStringLiteral("定例会議"), tokyo(2));
        writeRecording(top + QStringLiteral("/sub/c.mp3"), QStringLiteral("電話"), tokyo(3));
        writeRecording(top + QStringLiteral("/sub/deeper/d.mp3"), QString(), tokyo(4));
        QFile notes(top + QStringLiteral("/notes.txt"));
        [&] { QVERIFY(notes.open(QIODevice::WriteOnly)); }();
        return top;
    }

private Q_SLOTS:
    void init()
    {
        g_bNoAudioOutput = false;
        QFile::remove(indexFile());
    }

    void sameRecordsAsAScanWithoutTheIndex_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("hitsAfter"); // of the four recordings
        QTest::newRow("unchanged") << "" << 4;
        QTest::newRow("header written by the program") << "program" << 4;
        QTest::newRow("header edited elsewhere, times put back") << "elsewhere" << 3;
        QTest::newRow("replaced by rename, same size and times") << "replaced" << 3;
        QTest::newRow("removed") << "removed" << 3;
        QTest::newRow("added") << "added" << 4;
        QTest::newRow("folder renamed") << "folder" << 2;
        QTest::newRow("no audio output") << "noaudio" << 4;
    }
    void sameRecordsAsAScanWithoutTheIndex()
    {
        QFETCH(QString, change);
        QFETCH(int, hitsAfter);
        const QString top = makeTree();
        RecordingIndex index(indexFile());
        QVERIFY(index.isOpen());
        CountingCache first(index);
        QCOMPARE(Describe(ScanTree(top, &first)), Describe(ScanTree(top, nullptr)));
        QCOMPARE(first.stores, 4);

        const QString a = top + QStringLiteral("/a.mp3");
        if (change == QLatin1String("program")) {
            SetScanCache(&index);
            tagVoiceHeader header = MakeVoiceHeader(1, QStringLiteral("会議の結論"));
            header.protectFlag = 1;
            const bool written = WriteVoiceHeader(a, header);
            SetScanCache(nullptr);
            QVERIFY(written);
        } else if (change == QLatin1String("elsewhere")) {
            editMemoElsewhere(a);
        } else if (change == QLatin1String("replaced")) {
            replaceByRename(a);
        } else if (change == QLatin1String("removed")) {
            QVERIFY(QFile::remove(a));
        } else if (change == QLatin1String("added")) {
            writeRecording(top + QStringLiteral("/sub/e.mp3"), QStringLiteral("追加"), tokyo(5));
        } else if (change == QLatin1String("folder")) {
            QVERIFY(QDir(top).rename(QStringLiteral("sub"), QStringLiteral("renamed")));
        } else if (change == QLatin1String("noaudio")) {
            g_bNoAudioOutput = true;
        }

        CountingCache second(index);
        const QStringList indexed = Describe(ScanTree(top, &second));
        QCOMPARE(indexed, Describe(ScanTree(top, nullptr)));
        QCOMPARE(second.hits, hitsAfter);
        // What changed was read again and is served from the index next time.
        CountingCache third(index);
        QCOMPARE(Describe(ScanTree(top, &third)), indexed);
        QCOMPARE(third.hits, int(indexed.size()));
        // The index keeps the folders it scanned last in memory; the file says the same.
        RecordingIndex reopened(indexFile());
        CountingCache fourth(reopened);
        QCOMPARE(Describe(ScanTree(top, &fourth)), indexed);
        QCOMPARE(fourth.hits, int(indexed.size()));
    }

    // Whatever a header holds comes back from the index byte for byte.
    void headersComeBackWhole_data()
    {
        QTest::addColumn<QByteArray>("memo");
        QTest::addColumn<QList<uint32_t>>("marks");
        QTest::addColumn<bool>("zeroReserved");
        QTest::newRow("marks and a memo") << UnicodeToCp932(QStringLiteral("会議～メモ")).bytes
                                          << QList<uint32_t>{0, 12, 12, 7} << false;
        QTest::newRow("bytes after the memo's end") << QByteArray("memo\0left over", 15) << QList<uint32_t>{} << false;
        QTest::newRow("bytes that are not CP932") << QByteArray("\x81\x20\xFF\xA0x") << QList<uint32_t>{} << false;
        QTest::newRow("trailing spaces") << QByteArray("memo   ") << QList<uint32_t>{} << true;
        QTest::newRow("all 256 bytes used") << QByteArray(kMemoBytes, 'm') << QList<uint32_t>{1, 2, 3, 4, 5} << true;
        QTest::newRow("all zero") << QByteArray() << QList<uint32_t>{0, 0, 0, 0, 0} << true;
    }
    void headersComeBackWhole()
    {
        QFETCH(QByteArray, memo);
        QFETCH(QList<uint32_t>, marks);
        QFETCH(bool, zeroReserved);
        const QString folder = m_dir.filePath(QStringLiteral("headers%1").arg(++m_trees));
        QDir().mkpath(folder);
        tagVoiceHeader header = MakeVoiceHeader(2, QString(), marks);
        if (zeroReserved) {
            std::memset(header.reserved0, 0, sizeof header.reserved0);
            std::memset(header.reserved41, 0, sizeof header.reserved41);
        }
        std::memcpy(header.memo, memo.constData(), size_t(memo.size()));
        header.playedFlag = 2;
        header.transferredFlag = 7;
        QVERIFY(WriteFileBytes(folder + QStringLiteral("/h.mp3"), BuildRecording(header, ShortSpeechAudio())));
        const QStringList plain = Describe(ScanTree(folder, nullptr));
        RecordingIndex index(indexFile());
        ScanTree(folder, &index);
        CountingCache counting(index);
        QCOMPARE(Describe(ScanTree(folder, &counting)), plain);
        QCOMPARE(counting.hits, 1);
    }

    // A file that is not an index, or one of another version, is replaced; the
    // scan is the same throughout.
    void unusableIndexFileIsRebuilt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("version");
        QTest::newRow("garbage") << QByteArray(8192, 'x') << 0;
        QTest::newRow("truncated database") << QByteArray("SQLite format 3\0", 16) + QByteArray(84, '\1') << 0;
        QTest::newRow("other schema version") << QByteArray() << 99;
    }
    void unusableIndexFileIsRebuilt()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, version);
        const QString top = makeTree();
        QDir().mkpath(QFileInfo(indexFile()).absolutePath());
        if (version) {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(indexFile()).constData(), &db), SQLITE_OK);
            const QByteArray sql = "CREATE TABLE recordings(x); PRAGMA user_version=" + QByteArray::number(version);
            QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else {
            QVERIFY(WriteFileBytes(indexFile(), content));
        }
        const QStringList plain = Describe(ScanTree(top, nullptr));
        {
            RecordingIndex index(indexFile());
            QVERIFY(index.isOpen());
            QCOMPARE(Describe(ScanTree(top, &index)), plain);
        }
        RecordingIndex reopened(indexFile());
        CountingCache counting(reopened);
        QCOMPARE(Describe(ScanTree(top, &counting)), plain);
        QCOMPARE(counting.hits, 4);
    }

    // A folder deleted from one that is still there is forgotten with what it held;
    // one whose whole tree is away (a card taken out) is kept for its return.
    // A folder read whole is told unchanged by its stamp and one stat of each file in
    // it, without reading it: any change to its entries, to a recording or to a file
    // named as one that is none (in place, the folder's times untouched) tells it changed.
    void aFolderAsReadIsToldWithoutReadingIt_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("unchanged");
        QTest::newRow("nothing") << QString() << true;
        QTest::newRow("a memo edited in place") << QStringLiteral("edit") << false;
        QTest::newRow("a recording replaced by rename") << QStringLiteral("rename") << false;
        QTest::newRow("a file that was none made a recording in place") << QStringLiteral("other") << false;
        QTest::newRow("a recording added") << QStringLiteral("add") << false;
        QTest::newRow("a recording removed") << QStringLiteral("remove") << false;
        QTest::newRow("a subfolder added") << QStringLiteral("subfolder") << false;
    }
    void aFolderAsReadIsToldWithoutReadingIt()
    {
        QFETCH(QString, change);
        QFETCH(bool, unchanged);
        const QString top = makeTree();
        const QString other = top + QStringLiteral("/other.mp3");
        QVERIFY(WriteFileBytes(other, QByteArray(4096, 'x')));
        // A change within the file system's clock tick of the read could leave the
        // folder's times as they were: only a folder that held still before is kept.
        QTest::qWait(120);
        RecordingIndex index(indexFile());
        QCOMPARE(ScanTree(top, &index).size(), 4);
        if (change == QStringLiteral("edit")) {
            editMemoElsewhere(top + QStringLiteral("/a.mp3"));
        } else if (change == QStringLiteral("rename")) {
            replaceByRename(top + QStringLiteral("/b.mp3"));
        } else if (change == QStringLiteral("other")) {
            struct stat before {};
            QCOMPARE(stat(QFile::encodeName(other).constData(), &before), 0);
            QFile file(other);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.write(BuildRecording(MakeVoiceHeader(1, QStringLiteral("後から")), ShortSpeechAudio()));
            file.close();
            putTimesBack(other, before);
        } else if (change == QStringLiteral("add")) {
            writeRecording(top + QStringLiteral("/e.mp3"), QStringLiteral("追加"), tokyo(5));
        } else if (change == QStringLiteral("remove")) {
            QVERIFY(QFile::remove(top + QStringLiteral("/b.mp3")));
        } else if (change == QStringLiteral("subfolder")) {
            QVERIFY(QDir().mkdir(top + QStringLiteral("/new")));
        }
        FolderListing listing;
        QCOMPARE(toldUnchanged(index, top + u'/', listing), int(unchanged));
        if (unchanged) {
            QCOMPARE(listing.subfolders, QList<QByteArray>{"sub"});
            QCOMPARE(listing.others.size(), 1);
            QCOMPARE(listing.others.first().first, QByteArray("other.mp3"));
            // The subfolders were read whole too.
            QCOMPARE(toldUnchanged(index, top + QStringLiteral("/sub/"), listing), 1);
            QCOMPARE(listing.subfolders, QList<QByteArray>{"deeper"});
        } else {
            // Read again, the folder is as read once more, with what changed.
            QTest::qWait(120);
            const QStringList fresh = Describe(ScanTree(top, nullptr));
            QCOMPARE(Describe(ScanTree(top, &index)), fresh);
        }
    }

    // The index file may be damaged: a listing whose names no folder can hold, or whose
    // stamped names are cut short, is not used, and the folder is read as it is.
    void damagedListingIsNotUsed_data()
    {
        QTest::addColumn<QString>("column");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("subfolder ..") << QStringLiteral("subfolders") << QByteArray("sub/..");
        QTest::newRow("subfolder .") << QStringLiteral("subfolders") << QByteArray(".");
        QTest::newRow("empty subfolder name") << QStringLiteral("subfolders") << QByteArray("sub//deeper");
        QTest::newRow("undecodable name ..") << QStringLiteral("undecodable") << QByteArray("..");
        QTest::newRow("stamped name cut short") << QStringLiteral("others") << QByteArray("other.mp3\0\1\2", 12);
        QTest::newRow("stamped name without its 0 byte") << QStringLiteral("others") << QByteArray("other.mp3");
        QTest::newRow("stamped name ..") << QStringLiteral("others") << (QByteArray("..", 3) + QByteArray(40, '\0'));
    }
    void damagedListingIsNotUsed()
    {
        QFETCH(QString, column);
        QFETCH(QByteArray, bytes);
        const QString top = makeTree();
        QVERIFY(WriteFileBytes(top + QStringLiteral("/other.mp3"), QByteArray(4096, 'x')));
        QTest::qWait(120);
        {
            RecordingIndex index(indexFile());
            QCOMPARE(ScanTree(top, &index).size(), 4);
        }
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(indexFile()).constData(), &db), SQLITE_OK);
        const QByteArray sql = "UPDATE folder_listing SET " + column.toLatin1()
            + " = ? WHERE folder = (SELECT id FROM folders WHERE path = ?)";
        sqlite3_stmt* st = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, sql.constData(), -1, &st, nullptr), SQLITE_OK);
        const QByteArray path = (top + u'/').toUtf8();
        sqlite3_bind_blob(st, 1, bytes.constData(), int(bytes.size()), SQLITE_STATIC);
        sqlite3_bind_text(st, 2, path.constData(), int(path.size()), SQLITE_STATIC);
        QCOMPARE(sqlite3_step(st), SQLITE_DONE);
        QCOMPARE(sqlite3_changes(db), 1);
        sqlite3_finalize(st);
        sqlite3_close(db);

        RecordingIndex index(indexFile());
        FolderListing listing;
        QCOMPARE(toldUnchanged(index, top + u'/', listing), 0);
        QCOMPARE(Describe(ScanTree(top, &index)), Describe(ScanTree(top, nullptr)));
    }

    void foldersGoneFromTheirParentAreForgotten()
    {
        const QString top = makeTree();
        QVERIFY(QDir().mkpath(top + QStringLiteral("/away/inner")));
        writeRecording(top + QStringLiteral("/away/inner/e.mp3"), QString(), tokyo(5));
        RecordingIndex index(indexFile());
        ScanTree(top, &index);
        const auto indexedFolders = [this] {
            QStringList paths;
            sqlite3* db = nullptr;
            sqlite3_open_v2(QFile::encodeName(indexFile()).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db, "SELECT f.path FROM folders f WHERE EXISTS (SELECT 1 FROM recordings r WHERE r.folder = f.id)",
                               -1, &st, nullptr);
            while (st && sqlite3_step(st) == SQLITE_ROW)
                paths.append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0))));
            sqlite3_finalize(st);
            sqlite3_close(db);
            paths.sort();
            return paths;
        };
        const QString sub = top + QStringLiteral("/sub/"), deeper = sub + QStringLiteral("deeper/"),
                      inner = top + QStringLiteral("/away/inner/");
        QCOMPARE(indexedFolders(), (QStringList{top + u'/', inner, sub, deeper}));

        QVERIFY(QDir(top + QStringLiteral("/sub/deeper")).removeRecursively());
        // The tree of the away folder is moved off as a whole, as an unmounted card's.
        QVERIFY(QDir().rename(top + QStringLiteral("/away"), m_dir.filePath(QStringLiteral("away%1").arg(m_trees))));
        index.forgetGoneFolders();
        QCOMPARE(indexedFolders(), (QStringList{top + u'/', inner, sub}));
        CountingCache again(index);
        QCOMPARE(Describe(ScanTree(top, &again)), Describe(ScanTree(top, nullptr)));
        QCOMPARE(again.hits, 3);
    }

    // The start-up walk of the save folder through the index's memo lists the same
    // folders, in the same order, as a walk without it; it never makes an index file.
    void theSaveFolderWalkThroughTheMemo()
    {
        const QString save = m_dir.filePath(QStringLiteral("memo-save%1").arg(++m_trees));
        for (const char* folder : {"/day1/am", "/day1/pm", "/day2", "/日本語"})
            QVERIFY(QDir().mkpath(save + QLatin1String(folder)));
        const auto walked = [&save](FolderMemo* memo) {
            SetFolderMemo(memo);
            CTALVEN77PCDoc document;
            document.RunStartupChecks(save);
            SetFolderMemo(nullptr);
            QStringList folders;
            for (const auto& list : document.fileLists())
                folders.append(list->strFolder());
            return folders;
        };
        QTest::qWait(120); // the folders' times settle
        RecordingIndex index(indexFile());
        QCOMPARE(walked(&index), walked(nullptr));
        QVERIFY(!QFileInfo::exists(indexFile()));

        QVERIFY(index.isOpen()); // as the first scan makes it
        QCOMPARE(walked(&index), walked(nullptr));
        // Now from the memo: the tidy-up and the walk each take all six folders from it.
        struct Counting : FolderMemo
        {
            FolderMemo& memo;
            int hits = 0;
            explicit Counting(FolderMemo& m) : memo(m) {}
            void beginWalk() override { memo.beginWalk(); }
            void endWalk() override { memo.endWalk(); }
            bool knownSubfolders(const QByteArray& folder, const FolderStamp& stamp, QList<QByteArray>& names) override
            {
                const bool known = memo.knownSubfolders(folder, stamp, names);
                hits += known;
                return known;
            }
            void rememberSubfolders(const QByteArray& folder, const FolderStamp& stamp,
                                    const QList<QByteArray>& names) override
            {
                memo.rememberSubfolders(folder, stamp, names);
            }
        } counting(index);
        QCOMPARE(walked(&counting), walked(nullptr));
        QCOMPARE(counting.hits, 12);
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day2/late")));
        QVERIFY(QDir(save).rmdir(QStringLiteral("day1/pm")));
        QVERIFY(QDir(save).rename(QStringLiteral("day2"), QStringLiteral("day3")));
        const QStringList plain = walked(nullptr);
        QVERIFY(plain.contains(save + QStringLiteral("/day3/late/")));
        QCOMPARE(walked(&index), plain);
        // Another process holding the index only means the walk reads the folders.
        RecordingIndex reopened(indexFile());
        QCOMPARE(walked(&reopened), plain);
    }

    void unwritableCacheFolderIsDoneWithout_data()
    {
        QTest::addColumn<bool>("fileInTheWay");
        QTest::newRow("read-only folder") << false;
        QTest::newRow("a file where the folder should be") << true;
    }
    void unwritableCacheFolderIsDoneWithout()
    {
        QFETCH(bool, fileInTheWay);
        if (!fileInTheWay && geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QString top = makeTree();
        const QString cache = m_dir.filePath(QStringLiteral("unwritable-cache%1").arg(m_trees));
        if (fileInTheWay) {
            QVERIFY(WriteFileBytes(cache, "not a folder"));
        } else {
            QVERIFY(QDir().mkpath(cache));
            QVERIFY(QFile::setPermissions(cache, QFile::ReadOwner | QFile::ExeOwner));
        }
        {
            RecordingIndex index(cache + QStringLiteral("/index.sqlite"));
            QVERIFY(!index.isOpen());
            QCOMPARE(Describe(ScanTree(top, &index)), Describe(ScanTree(top, nullptr)));
        }
        QVERIFY(!QFile::exists(cache + QStringLiteral("/index.sqlite")));
        QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A file system that refuses to grow the index (the file-size limit stands in
    // for a full disk: both end writes the same way): nothing is lost, nothing stalls.
    void fullCacheFileSystemIsDoneWithout()
    {
        const QString top = makeTree();
        const QStringList plain = Describe(ScanTree(top, nullptr));
        QStringList indexed;
        {
            const FileSizeLimit tiny(4096);
            QVERIFY(tiny.ok());
            RecordingIndex index(indexFile());
            indexed = Describe(ScanTree(top, &index));
            indexed += Describe(ScanTree(top, &index));
        }
        QCOMPARE(indexed, plain + plain);
        // Once there is room again, the index is made.
        RecordingIndex index(indexFile());
        QVERIFY(index.isOpen());
        QCOMPARE(Describe(ScanTree(top, &index)), plain);
        CountingCache counting(index);
        QCOMPARE(Describe(ScanTree(top, &counting)), plain);
        QCOMPARE(counting.hits, 4);
    }

    // Another process writing into the index: a scan reads what is indexed,
    // writes nothing, and does not wait for the other process.
    void anotherProcessHoldingTheIndex()
    {
        const QString top = makeTree();
        {
            RecordingIndex index(indexFile());
            ScanTree(top, &index);
        }
        writeRecording(top + QStringLiteral("/z.mp3"), QStringLiteral("新規"), tokyo(6));
        int toChild[2], toParent[2];
        QCOMPARE(pipe(toChild), 0);
        QCOMPARE(pipe(toParent), 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            sqlite3* db = nullptr;
            char go = 0;
            const bool locked = sqlite3_open(QFile::encodeName(indexFile()).constData(), &db) == SQLITE_OK
                && sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK
                && sqlite3_exec(db, "DELETE FROM folders", nullptr, nullptr, nullptr) == SQLITE_OK;
            go = locked ? 'L' : 'F';
            [[maybe_unused]] auto w = write(toParent[1], &go, 1);
            [[maybe_unused]] auto r = read(toChild[0], &go, 1);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            sqlite3_close(db);
            _exit(0);
        }
        char state = 0;
        QCOMPARE(read(toParent[0], &state, 1), ssize_t(1));
        QCOMPARE(state, 'L');
        QStringList indexed;
        int hits = 0;
        {
            RecordingIndex index(indexFile(), 20);
            CountingCache counting(index);
            indexed = Describe(ScanTree(top, &counting));
            hits = counting.hits;
        }
        const char go = 'G';
        QCOMPARE(write(toChild[1], &go, 1), ssize_t(1));
        int status = 0;
        waitpid(child, &status, 0);
        for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
            ::close(fd);
        QCOMPARE(indexed, Describe(ScanTree(top, nullptr)));
        QCOMPARE(hits, 4); // the other process's uncommitted change is not seen
        RecordingIndex index(indexFile());
        CountingCache counting(index);
        ScanTree(top, &counting);
        QCOMPARE(counting.hits, 4); // z.mp3 was not written while the index was held
        QCOMPARE(counting.stores, 1);
    }
};

TALVEN77_REGISTER_TEST(IndexScanTest);

#include "IndexScanTest.moc"
