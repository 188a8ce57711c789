#include "CardBuilder.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "recording/FileList.h"
#include "recording/VoiceDuration.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QDateTime tokyo(int year, int month, int day, int hour = 10)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0)); // tests run with TZ=Asia/Tokyo
}

QStringList fileNames(const CFileList& list)
{
    QStringList names;
    for (const tagFileList& record : list.records())
        names.append(record.szFileName);
    return names;
}

} // namespace

class FileListTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_folders = 0;

    QString newFolder()
    {
        const QString path = m_dir.filePath(QStringLiteral("f%1").arg(++m_folders));
        QDir().mkpath(path);
        return path;
    }
    static void writeRecording(const QString& path, const QDateTime& time = {}, uint8_t mode = 0)
    {
        QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(mode, QStringLiteral("録音")), ShortSpeechAudio()), time));
    }
    // A card root with Device.Dat for the number; returns the recording folder.
    static QString makeCardRoot(const QString& root, uint16_t number)
    {
        [&] { QVERIFY(WriteFileBytes(root + QStringLiteral("/Device.Dat"), DeviceDatBytes(number))); }();
        const QString folder = root + u'/' + QString::asprintf("%03d_TALVEN-77", number);
        QDir().mkpath(folder);
        return folder;
    }

private Q_SLOTS:
    void init()
    {
        g_bNoAudioOutput = false;
        OpenProgramSettings()->remove(QStringLiteral("DeviceName"));
    }

    void acceptsOnlyMp3FilesWithAHeader()
    {
        const QString folder = newFolder();
        const QDateTime recorded = tokyo(2013, 4, 15);
        writeRecording(folder + QStringLiteral("/a.MP3"), recorded, 2);
        QVERIFY(WriteFileBytes(folder + QStringLiteral("/b.mp3"), ShortSpeechAudio()));
        writeRecording(folder + QStringLiteral("/c.wav"));
        writeRecording(folder + QStringLiteral("/d.mp3.bak"));

        CFileList list(kListRegistered, false);
        list.SetFolder(folder);
        QCOMPARE(list.strFolder(), folder + u'/');
        QCOMPARE(list.strLabel(), folder);
        QCOMPARE(list.GetRecordCount(), 0); // SetFolder does not scan
        QVERIFY(!list.EnsureScanned());
        QVERIFY(list.bInitialized());
        QCOMPARE(list.GetRecordCount(), 1);
        const tagFileList& record = *list.RecordAt(0);
        QCOMPARE(record.szFileName, QStringLiteral("a.MP3"));
        QCOMPARE(record.szFilePath, folder + QStringLiteral("/a.MP3"));
        QCOMPARE(qint64(record.nFileSize), QFileInfo(record.szFilePath).size());
        QCOMPARE(record.nDuration, 2u);
        QCOMPARE(record.header.mode, 2);
        // Birth time is the moment the file was written; the recording time is its last-write time.
        QCOMPARE(record.tmCreate, recorded.toSecsSinceEpoch());
        QVERIFY(!list.RecordAt(1));
        QVERIFY(!list.RecordAt(-1));
    }

    void headerWritesKeepTheStartTime()
    {
        // A copy's birth time is the moment of copying, so its start time lives in
        // its last-write time, which header writes must not move.
        const QString root = newFolder();
        const QString path = makeCardRoot(root, 1) + QStringLiteral("/copied.mp3");
        const QDateTime recorded = tokyo(2013, 4, 15);
        writeRecording(path, recorded);
        CFileList card(kListCard, true);
        QVERIFY(card.InitDevice(root));
        QCOMPARE(card.strLabel(), QStringLiteral("(001)130415-130415"));

        const auto played = [](tagVoiceHeader& h) { h.playedFlag = 2; };
        const auto protect = [](tagVoiceHeader& h) { h.protectFlag = 1; };
        const auto transferred = [](tagVoiceHeader& h) { h.transferredFlag = 1; };
        for (const auto& change : {+played, +protect, +transferred}) {
            tagVoiceHeader header;
            QVERIFY(ReadVoiceHeader(path, header));
            change(header);
            QVERIFY(WriteVoiceHeader(path, header));
            QCOMPARE(QFileInfo(path).lastModified(), recorded);
            QVERIFY(card.EnsureScanned());
            QCOMPARE(card.GetRecordCount(), 1);
            QCOMPARE(card.RecordAt(0)->tmCreate, recorded.toSecsSinceEpoch());
            QCOMPARE(card.strLabel(), QStringLiteral("(001)130415-130415"));
        }
        const tagVoiceHeader& written = card.RecordAt(0)->header;
        QCOMPARE(written.playedFlag, 2);
        QCOMPARE(written.protectFlag, 1);
        QCOMPARE(written.transferredFlag, 1);
    }

    void specialFilesAreLeftOutWithoutWaiting()
    {
        // Nothing writes to these FIFOs: opening or reading one for good would hang.
        const QString root = newFolder();
        const QString folder = makeCardRoot(root, 2);
        writeRecording(folder + QStringLiteral("/real.mp3"));
        const QString fifo = folder + QStringLiteral("/pipe.mp3");
        QVERIFY(MakeFifo(fifo));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), folder + QStringLiteral("/null.mp3")));
        CFileList card(kListCard, true);
        bool initialized = false;
        QVERIFY(FinishesWithin(5000, [&] { initialized = card.InitDevice(root); },
                               [&] { ReleaseFifoReaders(fifo); }));
        QVERIFY(initialized);
        QCOMPARE(fileNames(card), QStringList{QStringLiteral("real.mp3")});

        // A FIFO in place of the identification file: no recorder, and no wait.
        const QString pipeRoot = newFolder();
        const QString deviceDat = pipeRoot + QStringLiteral("/Device.Dat");
        QVERIFY(MakeFifo(deviceDat));
        CFileList pipeCard(kListCard, true);
        initialized = true;
        QVERIFY(FinishesWithin(5000, [&] { initialized = pipeCard.InitDevice(pipeRoot); },
                               [&] { ReleaseFifoReaders(deviceDat); }));
        QVERIFY(!initialized);
    }

    void namesThatCannotBeOpenedAgainAreLeftOut()
    {
        // Names in another encoding (here CP932 bytes) decode with U+FFFD and
        // would be listed under a path that opens nothing.
        const QString root = newFolder();
        const QString folder = makeCardRoot(root, 3);
        writeRecording(folder + QStringLiteral("/good.mp3"));
        const QByteArray native = QFile::encodeName(folder);
        const QByteArray bytes = BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio());
        const auto writeNative = [&](const QByteArray& path) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            const bool ok =
                fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
            if (fd >= 0)
                ::close(fd);
            return ok;
        };
        QVERIFY(writeNative(native + "/\x82\xa0.mp3"));
        QVERIFY(::mkdir((native + "/\x83\x41").constData(), 0755) == 0);
        QVERIFY(writeNative(native + "/\x83\x41/inner.mp3"));

        CFileList flat(kListRegistered, false);
        flat.SetFolder(folder);
        flat.EnsureScanned();
        CFileList card(kListCard, true);
        QVERIFY(card.InitDevice(root));
        for (const CFileList* list : {&flat, &card}) {
            QCOMPARE(fileNames(*list), QStringList{QStringLiteral("good.mp3")});
            for (const tagFileList& record : list->records()) {
                tagVoiceHeader header;
                QVERIFY2(ReadVoiceHeader(record.szFilePath, header), qPrintable(record.szFilePath));
            }
        }
    }

    void fileInUseIsLeftOut()
    {
        const QString folder = newFolder();
        writeRecording(folder + QStringLiteral("/free.mp3"));
        writeRecording(folder + QStringLiteral("/busy.mp3"));
        const int holder = ::open(QFile::encodeName(folder + QStringLiteral("/busy.mp3")).constData(), O_RDONLY);
        QCOMPARE(flock(holder, LOCK_EX), 0);
        CFileList list(kListRegistered, false);
        list.SetFolder(folder);
        list.EnsureScanned();
        ::close(holder);
        QCOMPARE(fileNames(list), QStringList{QStringLiteral("free.mp3")});
    }

    void recursionFollowsTheListKind()
    {
        const QString root = newFolder();
        const QString folder = makeCardRoot(root, 1);
        writeRecording(folder + QStringLiteral("/top.mp3"));
        writeRecording(folder + QStringLiteral("/202611/02/one.mp3"));
        writeRecording(folder + QStringLiteral("/202611/02/two.mp3"));
        writeRecording(folder + QStringLiteral("/202611/05/three.mp3"));

        CFileList flat(kListRegistered, false);
        flat.SetFolder(folder);
        flat.EnsureScanned();
        QCOMPARE(fileNames(flat), QStringList{QStringLiteral("top.mp3")});

        CFileList card(kListCard, true);
        QVERIFY(card.InitDevice(root));
        QStringList names = fileNames(card);
        QCOMPARE(names.size(), 4);
        // Depth first: the two files of one folder come together.
        QCOMPARE(qAbs(names.indexOf(QStringLiteral("one.mp3")) - names.indexOf(QStringLiteral("two.mp3"))), 1);
        names.sort();
        QCOMPARE(names, (QStringList{"one.mp3", "three.mp3", "top.mp3", "two.mp3"}));
    }

    void deviceLabels_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QList<QDateTime>>("times");
        QTest::addColumn<QString>("registeredName");
        QTest::addColumn<QString>("label");
        QTest::newRow("empty recorder folder") << 1 << QList<QDateTime>{} << QString() << "(001)999999-000000";
        QTest::newRow("two dates") << 1 << QList<QDateTime>{tokyo(2013, 5, 2), tokyo(2013, 4, 15)} << QString()
                                   << "(001)130415-130502";
        QTest::newRow("local midnight counts for the new day")
            << 12 << QList<QDateTime>{QDateTime(QDate(2013, 4, 16), QTime(0, 30))} << QString() << "(012)130416-130416";
        QTest::newRow("registered name") << 5 << QList<QDateTime>{tokyo(2026, 12, 1)} << "会議室" << "(会議室)261201-261201";
        QTest::newRow("four-digit number") << 9999 << QList<QDateTime>{} << QString() << "(9999)999999-000000";
    }
    void deviceLabels()
    {
        QFETCH(int, number);
        QFETCH(QList<QDateTime>, times);
        QFETCH(QString, registeredName);
        QFETCH(QString, label);
        if (!registeredName.isEmpty()) {
            const auto settings = OpenProgramSettings();
            settings->setValue(QStringLiteral("DeviceName/Count"), 1);
            settings->setValue(QStringLiteral("DeviceName/ItemNo1"), QString::asprintf("%03d", number));
            settings->setValue(QStringLiteral("DeviceName/ItemName1"), registeredName);
        }
        const QString root = newFolder();
        const QString folder = makeCardRoot(root, uint16_t(number));
        for (int i = 0; i < times.size(); ++i)
            writeRecording(folder + QStringLiteral("/r%1.mp3").arg(i), times[i]);

        CFileList list(kListRecorder, true);
        QVERIFY(list.InitDevice(root + u'/'));
        QCOMPARE(list.strRoot(), root);
        QCOMPARE(list.nDeviceNo(), number);
        QCOMPARE(list.strFolder(), folder + u'/');
        QCOMPARE(list.strLabel(), label);
        QCOMPARE(list.GetRecordCount(), times.size());
    }

    void initDeviceRefusals()
    {
        const QString root = newFolder();
        makeCardRoot(root, 3);
        CFileList folderList(kListSaveFolder, false);
        QVERIFY(!folderList.InitDevice(root));
        QVERIFY(folderList.strRoot().isEmpty());

        CFileList noRecorder(kListCard, true);
        QVERIFY(!noRecorder.InitDevice(newFolder()));
        QVERIFY(noRecorder.strRoot().isEmpty());
        QVERIFY(!noRecorder.EnsureScanned());

        CFileList twice(kListCard, true);
        QVERIFY(twice.InitDevice(root));
        QVERIFY(!twice.InitDevice(root));
        QVERIFY(twice.EnsureScanned());

        // A folder list ignores SetFolder when it stands for a device.
        twice.SetFolder(newFolder());
        QCOMPARE(twice.strFolder(), root + QStringLiteral("/003_TALVEN-77/"));
    }

    void holdsAtMost9999Records()
    {
        const QString folder = newFolder();
        const QByteArray bytes = BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio());
        for (int i = 0; i < 10000; ++i)
            QVERIFY(WriteFileBytes(folder + QStringLiteral("/%1.mp3").arg(i), bytes));
        CFileList list(kListRegistered, false);
        list.SetFolder(folder);
        list.EnsureScanned();
        QCOMPARE(list.GetRecordCount(), CFileList::kMaxRecords);
    }

    // The length is read from the file's frames: whether anything can be played has
    // nothing to do with it, before and after the folder is read again.
    void durationsDoNotDependOnTheAudioOutput()
    {
        const QString folder = newFolder();
        writeRecording(folder + QStringLiteral("/a.mp3"));
        g_bNoAudioOutput = true;
        CFileList list(kListRegistered, false);
        list.SetFolder(folder);
        list.EnsureScanned();
        QCOMPARE(list.GetRecordCount(), 1);
        QCOMPARE(list.RecordAt(0)->nDuration, 2u);
        QCOMPARE(list.RecordAt(0)->header.mode, 0);
        list.Refresh();
        QCOMPARE(list.RecordAt(0)->nDuration, 2u);
        g_bNoAudioOutput = false;
        list.Refresh();
        QCOMPARE(list.RecordAt(0)->nDuration, 2u);
    }

    void scanningOnceAndRefreshing()
    {
        const QString folder = newFolder();
        writeRecording(folder + QStringLiteral("/a.mp3"));
        CFileList list(kListSaveFolder, false);
        list.SetFolder(folder);
        QCOMPARE(list.strLabel(), QFileInfo(folder).fileName());
        list.EnsureScanned();
        writeRecording(folder + QStringLiteral("/b.mp3"));
        list.EnsureScanned(); // holds records already: no new scan
        QCOMPARE(list.GetRecordCount(), 1);
        QCOMPARE(list.Refresh(), QFileInfo(folder).fileName());
        QCOMPARE(list.GetRecordCount(), 2);
    }

    // A folder's list that is not shown keeps its records packed: shown again it
    // holds the same records without a new scan, a scan while it rests finds what
    // changed, and the operations on its records work as on a shown list's.
    void aRestingListKeepsItsRecords()
    {
        const QString folder = newFolder();
        writeRecording(folder + QStringLiteral("/a.mp3"), tokyo(2024, 1, 2));
        writeRecording(folder + QStringLiteral("/b.mp3"), tokyo(2024, 1, 3), 2);
        CFileList list(kListSaveFolder, false);
        list.SetFolder(folder);
        list.EnsureScanned();
        const QList<tagFileList> scanned = list.records();
        list.Rest();
        QCOMPARE(list.GetRecordCount(), 2);
        writeRecording(folder + QStringLiteral("/c.mp3"));
        list.EnsureScanned(); // shown again: the records it held, no new scan
        QCOMPARE(list.GetRecordCount(), 2);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(list.RecordAt(i)->szFilePath, scanned[i].szFilePath);
            QCOMPARE(list.RecordAt(i)->tmCreate, scanned[i].tmCreate);
            QCOMPARE(list.RecordAt(i)->header.mode, scanned[i].header.mode);
            QCOMPARE(QByteArray(list.RecordAt(i)->header.memo), QByteArray(scanned[i].header.memo));
        }

        list.Rest();
        list.Rescan(); // the folder changed while another one was shown
        QStringList names = fileNames(list);
        names.sort();
        QCOMPARE(names, (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
        list.Rest();
        QVERIFY(list.RemoveRecord(QStringLiteral("b.mp3")));
        list.Rest();
        list.MarkRecordTransferred(QStringLiteral("c.mp3"));
        list.Rest();
        const QString renamed = m_dir.filePath(QStringLiteral("改名"));
        list.ChangeFolder(renamed);
        list.Rest();
        QCOMPARE(list.GetRecordCount(), 2);
        for (const tagFileList& record : list.records()) {
            QCOMPARE(record.szFilePath, renamed + u'/' + record.szFileName);
            QCOMPARE(record.header.transferredFlag, record.szFileName == QStringLiteral("c.mp3") ? 1 : 0);
        }
    }

    void changeFolderRewritesSaveFolderPaths()
    {
        const QString folder = newFolder();
        writeRecording(folder + QStringLiteral("/a.mp3"));
        CFileList saved(kListSaveFolder, false);
        saved.SetFolder(folder);
        saved.EnsureScanned();
        const QString renamed = m_dir.filePath(QStringLiteral("新しいフォルダ.old"));
        QCOMPARE(saved.ChangeFolder(renamed), QStringLiteral("新しいフォルダ.old"));
        QCOMPARE(saved.strFolder(), renamed + u'/');
        QCOMPARE(saved.RecordAt(0)->szFilePath, renamed + QStringLiteral("/a.mp3"));

        CFileList registered(kListRegistered, false);
        registered.SetFolder(folder);
        registered.EnsureScanned();
        QCOMPARE(registered.ChangeFolder(renamed + u'/'), renamed);
        QCOMPARE(registered.RecordAt(0)->szFilePath, folder + QStringLiteral("/a.mp3"));
    }

    void recordOperations()
    {
        CFileList list(kListSaveFolder, false);
        tagFileList a{QStringLiteral("a.mp3"), QStringLiteral("/save/x/a.mp3")};
        a.header = MakeVoiceHeader(1);
        QVERIFY(list.AddRecordUnique(a));
        QVERIFY(list.AddRecordUnique({QStringLiteral("A.mp3"), QStringLiteral("/save/x/A.mp3")}));
        QVERIFY(!list.AddRecordUnique({QStringLiteral("a.mp3"), QStringLiteral("/elsewhere/a.mp3")}));
        QCOMPARE(list.GetRecordCount(), 2);

        list.MarkRecordTransferred(QStringLiteral("a.mp3"));
        QCOMPARE(list.RecordAt(0)->header.transferredFlag, 1);
        QCOMPARE(list.RecordAt(1)->header.transferredFlag, 0);

        tagVoiceHeader protectedHeader = MakeVoiceHeader(2);
        protectedHeader.protectFlag = 1;
        list.SetHeaderAt(1, protectedHeader);
        list.SetHeaderAt(2, MakeVoiceHeader(0));
        list.SetHeaderAt(-1, MakeVoiceHeader(0));
        QCOMPARE(list.RecordAt(1)->header.protectFlag, 1);
        QCOMPARE(list.RecordAt(0)->header.mode, 1);

        QVERIFY(!list.RemoveRecord(QStringLiteral("b.mp3")));
        QVERIFY(list.RemoveRecord(QStringLiteral("A.mp3")));
        QCOMPARE(fileNames(list), QStringList{QStringLiteral("a.mp3")});
    }

    void renameRecord_data()
    {
        QTest::addColumn<QString>("newName");
        QTest::addColumn<QString>("newPath");
        QTest::newRow("extension added") << "x" << "/save/001/x.mp3";
        QTest::newRow("extension kept in any case") << "y.MP3" << "/save/001/y.MP3";
        QTest::newRow("other extension gets .mp3") << "z.wav" << "/save/001/z.wav.mp3";
        QTest::newRow("japanese") << "会議" << "/save/001/会議.mp3";
    }
    void renameRecord()
    {
        QFETCH(QString, newName);
        QFETCH(QString, newPath);
        CFileList list(kListSaveFolder, false);
        tagFileList record{QStringLiteral("old.mp3"), QStringLiteral("/save/001/old.mp3"), 1234, 5, 6};
        list.AddRecordUnique(record);
        list.RenameRecord(QStringLiteral("missing.mp3"), QStringLiteral("never"));
        list.RenameRecord(QStringLiteral("old.mp3"), newName);
        const tagFileList& renamed = *list.RecordAt(0);
        QCOMPARE(renamed.szFileName, newName);
        QCOMPARE(renamed.szFilePath, newPath);
        QCOMPARE(renamed.tmCreate, 1234);
        QCOMPARE(renamed.nDuration, 5u);
    }

    void listsTakeDistinctIds()
    {
        CFileList first(kListRegistered, false);
        CFileList second(kListRegistered, false);
        QCOMPARE(second.nId(), first.nId() + 1);
    }
};

TALVEN77_REGISTER_TEST(FileListTest);
#include "FileListTest.moc"
