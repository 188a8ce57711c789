#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "ScriptedHost.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileOperations.h"
#include "platform/DurableCopy.h"
#include "platform/ProgramIdentity.h"
#include "recording/FileList.h"
#include "recording/RecordingFile.h"
#include "settings/SaveFolderCheck.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

const QString kBackupFailed = QStringLiteral("ファイルのバックアップに失敗しました。\nバックアップを中断します。");

int transferredFlagOf(const QString& path)
{
    tagVoiceHeader header{};
    return ReadVoiceHeader(path, header) ? header.transferredFlag : -1;
}

QStringList filesBelow(const QString& folder)
{
    QStringList files;
    const QDir root(folder);
    for (const QFileInfo& info : root.entryInfoList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (info.isDir()) {
            for (const QString& inner : filesBelow(info.filePath()))
                files.append(info.fileName() + u'/' + inner);
        } else {
            files.append(info.fileName());
        }
    }
    files.sort();
    return files;
}

} // namespace

// Recordings of the recorder's card going into the save folder: where each one
// lands, the transferred flag on both sides, and every way the transfer stops.
class TransferEngineTest : public QObject
{
    Q_OBJECT

    // A card with recorder number 1 holding recordings at the given paths below
    // its root, each of its own start time, and an empty save folder.
    struct Fixture
    {
        QString save;
        QString card;
        CTALVEN77PCDoc document;
        ScriptedHost host;
        CFileOperations engine{document, host};
        QList<tagFileList> records;
        bool folderPrepared = false;

        Fixture(SimulatedPlaces& places, const QStringList& paths)
        {
            save = places.newFolder(QStringLiteral("save"));
            card = places.newFolder(QStringLiteral("card"));
            WriteFileBytes(card + QStringLiteral("/Device.Dat"), DeviceDatBytes(1));
            for (int i = 0; i < paths.size(); ++i) {
                const QString path = card + u'/' + paths[i];
                QDir().mkpath(QFileInfo(path).path());
                WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1, paths[i]), ShortSpeechAudio()),
                               QDateTime(QDate(2026, 11, 2), QTime(9, i)));
            }
            places.setDrives({QStringLiteral("card ") + card});
            document.RunStartupChecks(save);
            for (const auto& list : document.fileLists()) {
                if (list->nKind() == kListCard)
                    list->EnsureScanned();
            }
            collect();
        }
        int collect() { return document.CollectUntransferred(kListCard, records); }
        bool transfer() { return engine.TransferFiles(records, kListCard, card, save, folderPrepared); }
        QString source(const QString& path) const { return card + u'/' + path; }
        QString copy(const QString& path) const { return save + u'/' + path; }
    };

    SimulatedPlaces m_places;

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }
    void cleanup()
    {
        SetFreeSpaceQuery({});
        SetCopyWriteFault(-1, 0);
        SetCopyCorruption(-1);
        SetFolderSyncObserver({});
        RecordingFile::SetLockFunction({});
    }

    void destinationFolder_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("folder");
        QTest::newRow("dated folders") << "/media/u/REC" << "/media/u/REC/001_TALVEN-77/202611/02/a.mp3"
                                       << "/save/001/2026-11/";
        QTest::newRow("root with a separator") << "/media/u/REC/" << "/media/u/REC/012_TALVEN-77/202701/31/a.mp3"
                                               << "/save/012/2027-01/";
        QTest::newRow("directly in the recorder folder") << "/media/u/REC" << "/media/u/REC/001_TALVEN-77/a.mp3"
                                                         << "/save/001/-/";
        QTest::newRow("one level below") << "/media/u/REC" << "/media/u/REC/001_TALVEN-77/202611/a.mp3"
                                         << "/save/001/001_-77/";
        QTest::newRow("short parent") << "/m" << "/m/001_TALVEN-77/abc/01/a.mp3" << "/save/001/abc-bc/";
        QTest::newRow("drive at the top") << "/" << "/001_TALVEN-77/202611/02/a.mp3" << "/save/001/2026-11/";
        QTest::newRow("not below the root") << "/media/u/REC" << "/media/u/RECORDS/001_TALVEN-77/a.mp3" << "";
        QTest::newRow("no root") << "" << "/media/u/REC/001_TALVEN-77/a.mp3" << "";
    }
    void destinationFolder()
    {
        QFETCH(QString, root);
        QFETCH(QString, source);
        QFETCH(QString, folder);
        QCOMPARE(CFileOperations::TransferDestinationFolder(QStringLiteral("/save"), root, source), folder);
    }

    void transfersIntoDatedFoldersAndMarksBothSides()
    {
        // Two recordings of one name in two day folders land in one month folder:
        // the second one takes a numbered name, and each source is marked.
        const QStringList paths = {"001_TALVEN-77/202611/02/a.mp3", "001_TALVEN-77/202611/03/a.mp3",
                                   "001_TALVEN-77/202612/01/b.mp3", "001_TALVEN-77/c.mp3"};
        Fixture f(m_places, paths);
        QCOMPARE(f.records.size(), 4);
        MessageRecorder messages;
        QVERIFY(f.transfer());
        QVERIFY(messages.entries().isEmpty());
        QVERIFY(f.folderPrepared);
        QCOMPARE(filesBelow(f.save), (QStringList{"001/-/c.mp3", "001/2026-11/a(2).mp3", "001/2026-11/a.mp3",
                                                  "001/2026-12/b.mp3"}));
        for (const QString& path : paths)
            QCOMPARE(transferredFlagOf(f.source(path)), 1);
        for (const QString& path : filesBelow(f.save))
            QCOMPARE(transferredFlagOf(f.copy(path)), 1);
        // Each copy is its own source's, with its times.
        const auto timeOf = [](const QString& path) { return QFileInfo(path).lastModified(); };
        QCOMPARE(QSet<QDateTime>({timeOf(f.copy("001/2026-11/a.mp3")), timeOf(f.copy("001/2026-11/a(2).mp3"))}),
                 QSet<QDateTime>({timeOf(f.source(paths[0])), timeOf(f.source(paths[1]))}));
        QCOMPARE(f.host.marked.size(), 4);
        QCOMPARE(f.host.progressTexts.last(), QStringLiteral("ファイルをバックアップしています... ( 4 / 4 )"));
        QCOMPARE(f.collect(), 0);
    }

    // What lies at the destination under the recording's name (and numbered
    // names), and where the copy goes: over an earlier copy of the same
    // recording, never over another one.
    void sameNameAtTheDestination_data()
    {
        QTest::addColumn<QString>("present");  // "earlier", "other time", "other audio", "numbered earlier"
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("copy");     // where the new copy is
        QTest::newRow("earlier copy") << "earlier" << QStringList{"a.mp3"} << "a.mp3";
        QTest::newRow("another recording") << "other time" << QStringList{"a(2).mp3", "a.mp3"} << "a(2).mp3";
        QTest::newRow("same time, other audio") << "other audio" << QStringList{"a(2).mp3", "a.mp3"} << "a(2).mp3";
        QTest::newRow("earlier copy under a numbered name")
            << "numbered earlier" << QStringList{"a(2).mp3", "a.mp3"} << "a(2).mp3";
    }
    void sameNameAtTheDestination()
    {
        QFETCH(QString, present);
        QFETCH(QStringList, files);
        QFETCH(QString, copy);
        const QString sourcePath = QStringLiteral("001_TALVEN-77/202611/02/a.mp3");
        Fixture f(m_places, {sourcePath});
        const QString source = f.source(sourcePath);
        const QString folder = f.copy("001/2026-11/");
        QVERIFY(QDir().mkpath(folder));
        const QDateTime sourceTime = QFileInfo(source).lastModified();
        QByteArray other = BuildRecording(MakeVoiceHeader(2, "other"), ShortSpeechAudio());
        if (present == "earlier") {
            QVERIFY(CopyFileDurably(source, folder + "a.mp3").ok());
        } else if (present == "other time") {
            QVERIFY(WriteFileBytes(folder + "a.mp3", other, sourceTime.addDays(-3)));
        } else if (present == "other audio") {
            other[other.size() - 100] = char(other[other.size() - 100] ^ 0x55);
            QVERIFY(WriteFileBytes(folder + "a.mp3", other, sourceTime));
        } else {
            QVERIFY(WriteFileBytes(folder + "a.mp3", other, sourceTime.addDays(-3)));
            QVERIFY(CopyFileDurably(source, folder + "a(2).mp3").ok());
        }
        MessageRecorder messages;
        QVERIFY(f.transfer());
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(filesBelow(folder), files);
        QCOMPARE(transferredFlagOf(folder + copy), 1);
        QFile in(folder + copy), from(source);
        QVERIFY(in.open(QIODevice::ReadOnly) && from.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), from.readAll());
        if (present != "earlier") {
            QFile kept(folder + "a.mp3");
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), other);
        }
    }

    // A read-only recording gives a read-only copy, which still takes its flag.
    // (Run as root, the write goes through anyway; then only the mode put back is shown.)
    void readOnlySourceGivesAMarkedCopy()
    {
        Fixture f(m_places, {"001_TALVEN-77/202611/02/a.mp3"});
        const QString copy = f.copy("001/2026-11/a.mp3");
        QVERIFY(QFile::setPermissions(f.source("001_TALVEN-77/202611/02/a.mp3"),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        MessageRecorder messages;
        QVERIFY(f.transfer());
        QCOMPARE(transferredFlagOf(copy), 1);
        QCOMPARE(QFileInfo(copy).permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther),
                 QFileDevice::Permissions());
    }

    // How a transfer of two recordings stops, and what it leaves.
    void stops_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("copied");  // copies in the save folder
        QTest::addColumn<int>("marked");  // sources marked transferred
        const QString noSpace = NotEnoughFreeSpaceMessage();
        QTest::newRow("folder in the way") << "file at folder" << QStringList{"フォルダの作成に失敗しました。中断します。"} << 0 << 0;
        QTest::newRow("disk full") << "no space" << QStringList{noSpace, "バックアップを中断しました。"} << 0 << 0;
        // The file at hand as the drive went is copied whole but not marked.
        QTest::newRow("device removed") << "removed" << QStringList{"デバイスが取り外されました。"} << 1 << 0;
        QTest::newRow("card pulled within a file") << "pulled" << QStringList{kBackupFailed} << 1 << 1;
        QTest::newRow("copy does not verify") << "corrupt" << QStringList{kBackupFailed} << 0 << 0;
        QTest::newRow("cancel after the first") << "cancel" << QStringList{} << 1 << 0;
    }
    void stops()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, texts);
        QFETCH(int, copied);
        QFETCH(int, marked);
        Fixture f(m_places, {"001_TALVEN-77/202611/02/a.mp3", "001_TALVEN-77/202611/02/b.mp3"});
        if (fault == "file at folder")
            QVERIFY(WriteFileBytes(f.save + "/001", "x"));
        else if (fault == "no space")
            SetFreeSpaceQuery([](const QString&) { return FreeSpaceFigures{1000, 1000000}; });
        else if (fault == "removed")
            f.host.onProgress = [&](int) { f.engine.setDeviceRemoved(); };
        else if (fault == "pulled")
            f.host.onProgress = [](int) { SetCopyWriteFault(1000, EIO); };
        else if (fault == "corrupt")
            SetCopyCorruption(200);
        else if (fault == "cancel")
            f.host.cancelAfter = 1;
        MessageRecorder messages;

        QVERIFY(!f.transfer());
        QStringList shown;
        for (const auto& entry : messages.entries())
            shown.append(entry.text);
        QCOMPARE(shown, texts);
        // Only whole copies, and no temporary file, are left in the save folder.
        QStringList copies = filesBelow(f.save);
        copies.removeAll("001");
        QCOMPARE(copies.size(), copied);
        for (const QString& path : copies)
            QVERIFY2(path.startsWith("001/2026-11/") && path.endsWith(".mp3") && !path.contains("/."), qPrintable(path));
        QCOMPARE(f.collect(), 2 - marked);
        QCOMPARE(f.host.marked.size(), marked);
        QCOMPARE(transferredFlagOf(f.source("001_TALVEN-77/202611/02/a.mp3")), marked > 0 ? 1 : 0);
        QCOMPARE(transferredFlagOf(f.source("001_TALVEN-77/202611/02/b.mp3")), 0);
        // A copy carries its flag from its first sync on, its card file only once marked:
        // the next transfer finds the copy and completes the card.
        if (copied > 0)
            QCOMPARE(transferredFlagOf(f.copy("001/2026-11/a.mp3")), 1);
        QCOMPARE(f.folderPrepared, fault != "file at folder");
    }

    void anUnusableSaveFolderIsRefused_data()
    {
        QTest::addColumn<QString>("savePath");
        QTest::newRow("empty") << "";
        QTest::newRow("relative") << "Corvane/TALVEN-77";
    }
    void anUnusableSaveFolderIsRefused()
    {
        QFETCH(QString, savePath);
        Fixture f(m_places, {"001_TALVEN-77/202611/02/a.mp3"});
        // A relative save folder would be taken from here.
        const QString here = m_places.newFolder(QStringLiteral("started-here"));
        const QString before = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
        QVERIFY(QDir::setCurrent(here));
        MessageRecorder messages;

        QVERIFY(!f.engine.TransferFiles(f.records, kListCard, f.card, savePath, f.folderPrepared));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, UnusableSaveFolderMessage());
        QVERIFY(filesBelow(here).isEmpty());
        QVERIFY(filesBelow(f.save).isEmpty());
        QCOMPARE(transferredFlagOf(f.source("001_TALVEN-77/202611/02/a.mp3")), 0);
        QVERIFY(!f.folderPrepared);
    }

    void flagsThatCannotBeWrittenAreReportedOnceAndTheTransferGoesOn()
    {
        const QStringList paths = {"001_TALVEN-77/202611/02/a.mp3", "001_TALVEN-77/202611/02/b.mp3",
                                   "001_TALVEN-77/202611/02/c.mp3"};
        Fixture f(m_places, paths);
        // Another program holds a.mp3 and b.mp3 on the card: their headers cannot be written.
        RecordingFile heldA, heldB;
        QVERIFY(heldA.open(f.source(paths[0]), RecordingFile::Access::ReadWrite));
        QVERIFY(heldB.open(f.source(paths[1]), RecordingFile::Access::ReadWrite));
        MessageRecorder messages;
        QVERIFY(f.transfer());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries().first().text, VoiceHeaderWriteFailedMessage());
        heldA.close();
        heldB.close();
        QCOMPARE(filesBelow(f.copy("001/2026-11")), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
        QCOMPARE(transferredFlagOf(f.source(paths[0])), 0);
        QCOMPARE(transferredFlagOf(f.source(paths[1])), 0);
        // The copy of a recording held elsewhere is whole but stays unmarked with
        // its card's file: a card file is marked only after its copy.
        QCOMPARE(transferredFlagOf(f.copy("001/2026-11/a.mp3")), 0);
        QCOMPARE(transferredFlagOf(f.copy("001/2026-11/c.mp3")), 1);
        QCOMPARE(transferredFlagOf(f.source(paths[2])), 1);
        // They are offered again, and go over their earlier copies next time.
        QCOMPARE(f.collect(), 2);
        QVERIFY(f.transfer());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(filesBelow(f.copy("001/2026-11")), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
        QCOMPARE(transferredFlagOf(f.source(paths[0])), 1);
        QCOMPARE(transferredFlagOf(f.source(paths[1])), 1);
        QCOMPARE(transferredFlagOf(f.copy("001/2026-11/a.mp3")), 1);
        QCOMPARE(transferredFlagOf(f.copy("001/2026-11/b.mp3")), 1);
    }
    // A recording whose card flag was never written (a transfer interrupted
    // between the two flags, a card that refused its flag) finds its identical
    // copy: that copy keeps what the user changed on it (memo, marks, protect),
    // is not copied again, and only the flags are set on both sides.
    void anEarlierCopyIsCompletedAndKeepsItsHeader_data()
    {
        QTest::addColumn<int>("copyFlag");
        QTest::newRow("neither side marked") << 0;
        QTest::newRow("copy marked, card not") << 1;
    }
    void anEarlierCopyIsCompletedAndKeepsItsHeader()
    {
        QFETCH(int, copyFlag);
        const QString path = QStringLiteral("001_TALVEN-77/202611/02/a.mp3");
        Fixture f(m_places, {path});
        const QString copy = f.copy("001/2026-11/a.mp3");
        QVERIFY(QDir().mkpath(QFileInfo(copy).path()));
        QVERIFY(CopyFileDurably(f.source(path), copy).ok());
        tagVoiceHeader header{};
        QVERIFY(ReadVoiceHeader(copy, header));
        header.transferredFlag = uint8_t(copyFlag);
        header.protectFlag = 1;
        header.indexMarks[0] = 7;
        std::strcpy(header.memo, "called back at ten");
        QVERIFY(WriteVoiceHeader(copy, header));
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(copy).constData(), &before), 0);

        MessageRecorder messages;
        QVERIFY(f.transfer());
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(filesBelow(f.copy("001/2026-11")), QStringList{"a.mp3"});
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(copy).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_size, before.st_size);
        tagVoiceHeader kept{};
        QVERIFY(ReadVoiceHeader(copy, kept));
        header.transferredFlag = 1;
        QVERIFY(std::memcmp(&kept, &header, sizeof header) == 0);
        QCOMPARE(transferredFlagOf(f.source(path)), 1);
        QCOMPARE(f.host.marked, QStringList{f.source(path)});
        QCOMPARE(f.collect(), 0);
    }

    // The copy carries its flag, under its own name, before the card's file is
    // opened to take its own: an interruption in between leaves the card
    // unmarked, and the next transfer completes it from the copy.
    void theCopyIsMarkedBeforeTheCard()
    {
        const QString path = QStringLiteral("001_TALVEN-77/202611/02/a.mp3");
        Fixture f(m_places, {path});
        struct stat card {};
        QCOMPARE(::stat(QFile::encodeName(f.source(path)).constData(), &card), 0);
        QList<int> copyFlagAsTheCardIsWritten;
        bool looking = false;
        RecordingFile::SetLockFunction([&](int fd, int operation) {
            struct stat opened {};
            if (!looking && (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDWR && ::fstat(fd, &opened) == 0
                && opened.st_dev == card.st_dev && opened.st_ino == card.st_ino) {
                looking = true;
                copyFlagAsTheCardIsWritten.append(transferredFlagOf(f.copy("001/2026-11/a.mp3")));
                looking = false;
            }
            return ::flock(fd, operation);
        });
        QVERIFY(f.transfer());
        QCOMPARE(copyFlagAsTheCardIsWritten, QList<int>{1});
        QCOMPARE(transferredFlagOf(f.source(path)), 1);
    }

    // The folders a transfer makes reach the disk, each in its parent up to the
    // save folder, while the card's recording is still unmarked.
    void newFoldersAreDurableBeforeTheCardIsMarked()
    {
        const QString path = QStringLiteral("001_TALVEN-77/202611/02/a.mp3");
        Fixture f(m_places, {path});
        QStringList syncedWhileUnmarked;
        SetFolderSyncObserver([&](const QString& folder) {
            if (transferredFlagOf(f.source(path)) == 0)
                syncedWhileUnmarked.append(QDir::cleanPath(folder));
        });
        QVERIFY(f.transfer());
        for (const QString& folder : {f.save, f.copy("001"), f.copy("001/2026-11")})
            QVERIFY2(syncedWhileUnmarked.contains(QDir::cleanPath(folder)), qPrintable(folder));
        QCOMPARE(transferredFlagOf(f.source(path)), 1);
    }
};

TALVEN77_REGISTER_TEST(TransferEngineTest);

#include "TransferEngineTest.moc"
