#include "MessageRecorder.h"
#include "ScriptedHost.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileOperations.h"
#include "platform/DurableCopy.h"
#include "platform/ProgramIdentity.h"
#include "recording/FileList.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT

    // A save folder with the folders "from" (recordings named by the test) and
    // "to"; the document shows "to", the engine works on "from"'s records.
    struct Fixture
    {
        QString save;
        QString from;
        QString to;
        CTALVEN77PCDoc document;
        ScriptedHost host;
        CFileOperations engine{document, host};

        Fixture(SimulatedPlaces& places, const QStringList& names, const QStringList& existing = {},
                const QList<int>& protectedOnes = {})
        {
            save = places.newFolder(QStringLiteral("save"));
            from = save + QStringLiteral("/from/");
            to = save + QStringLiteral("/to/");
            QDir().mkpath(from);
            QDir().mkpath(to);
            for (int i = 0; i < names.size(); ++i) {
                tagVoiceHeader header = MakeVoiceHeader(1, names[i]);
                header.protectFlag = protectedOnes.contains(i) ? 1 : 0;
                WriteFileBytes(from + names[i], BuildRecording(header, ShortSpeechAudio()),
                               QDateTime(QDate(2013, 4, 15), QTime(9, 0)));
            }
            for (const QString& name : existing)
                WriteFileBytes(to + name, QByteArray("earlier"));
            document.RunStartupChecks(save);
            document.SetCurrent(listOf(to));
            document.pCurrent()->EnsureScanned();
        }
        int listOf(const QString& folder) const { return *document.FindSaveSubfolderId(QDir::toNativeSeparators(folder)); }
        QList<tagFileList> recordsOf(const QString& folder)
        {
            CFileList* list = document.FindList(listOf(folder));
            list->EnsureScanned();
            QList<tagFileList> records = list->records();
            std::sort(records.begin(), records.end(),
                      [](const tagFileList& a, const tagFileList& b) { return a.szFileName < b.szFileName; });
            return records;
        }
        void remember(int mode) { engine.Remember(recordsOf(from), mode); }
        QStringList listed() const
        {
            QStringList names;
            for (const tagFileList& record : document.pCurrent()->records())
                names.append(record.szFileName);
            return names;
        }
    };

    SimulatedPlaces m_places;

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        SetFreeSpaceQuery({});
        SetCopyWriteFault(-1, 0);
    }
    void cleanup()
    {
        SetFreeSpaceQuery({});
        SetCopyWriteFault(-1, 0);
    }

    void numberedNames_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("result");
        QTest::newRow("first number") << "x.mp3" << QStringList{"x.mp3"} << "x(2).mp3";
        QTest::newRow("next free") << "x.mp3" << QStringList{"x.mp3", "x(2).mp3"} << "x(3).mp3";
        QTest::newRow("numbered part cut off") << "x(2).mp3" << QStringList{"x(2).mp3"} << "x(3).mp3";
        QTest::newRow("cut at the last bracket") << "a(b)c.mp3" << QStringList{"a(b)c.mp3"} << "a(2).mp3";
        QTest::newRow("no extension") << "memo" << QStringList{"memo"} << "memo(2)";
        QTest::newRow("percent signs stay as they are")
            << "REC%1.MP3" << QStringList{"REC%1.MP3"} << "REC%1(2).MP3";
        QTest::newRow("percent signs next to a number")
            << "%2 %1(%1).mp3" << QStringList{"%2 %1(%1).mp3", "%2 %1(2).mp3"} << "%2 %1(3).mp3";
    }

    void numberedNames()
    {
        QFETCH(QString, destination);
        QFETCH(QStringList, taken);
        QFETCH(QString, result);
        const QString folder = m_places.newFolder(QStringLiteral("names"));
        for (const QString& name : taken)
            QVERIFY(WriteFileBytes(folder + u'/' + name, "x"));
        QString path = QDir::toNativeSeparators(folder + u'/' + destination);
        QVERIFY(CFileOperations::MakeNumberedName(path));
        QCOMPARE(path, QDir::toNativeSeparators(folder + u'/' + result));
    }

    void everyNumberTakenSkipsTheFile()
    {
        Fixture f(m_places, {"x.mp3"}, {"x.mp3"});
        for (int n = 2; n <= 9999; ++n) {
            QFile taken(f.to + QStringLiteral("x(%1).mp3").arg(n));
            QVERIFY(taken.open(QIODevice::WriteOnly));
        }
        f.host.answers = {{CFileOperations::RenameAutomatically, false}};
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(f.engine.PasteCopy(f.to));
        QCOMPARE(QFile(f.to + "x.mp3").size(), qint64(7)); // the earlier file stays
        QVERIFY(f.host.rows.isEmpty());
    }

    void copyKeepsBytesAndTimesAndListsTheCopies()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"});
        MessageRecorder messages;
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(f.engine.PasteCopy(f.to));
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(filesIn(f.to), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.host.rows, (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.listed(), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(QFileInfo(f.to + "a.mp3").lastModified(), QFileInfo(f.from + "a.mp3").lastModified());
        QFile copy(f.to + "b.mp3"), source(f.from + "b.mp3");
        QVERIFY(copy.open(QIODevice::ReadOnly) && source.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), source.readAll());
        QCOMPARE(f.host.progressTexts.last(), QStringLiteral("ファイルをコピーしています... ( 2 / 2 )"));
        // The window heard of the bytes within each file, up to its size.
        const qint64 size = QFileInfo(f.from + "b.mp3").size();
        QVERIFY(f.host.fileProgress.contains(qMakePair(int64_t(size), int64_t(size))));

        // Copied again over themselves there: their rows show the new files, no second row.
        f.host.answers = {{CFileOperations::Overwrite, true}};
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(f.engine.PasteCopy(f.to));
        QCOMPARE(f.host.rows, (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.host.replaced, (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.listed().size(), 2);
    }

    void tooLittleFreeSpaceWritesNothing()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3", "c.mp3"});
        SetFreeSpaceQuery([](const QString&) { return FreeSpaceFigures{10ull << 20, 4096ull << 20, 0}; });
        MessageRecorder messages;
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(!f.engine.PasteCopy(f.to));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, NotEnoughFreeSpaceMessage());
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Information);
        QVERIFY(filesIn(f.to).isEmpty());
    }

    void skipForAllAndTheNextPasteAsksAgain()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3", "c.mp3"}, {"a.mp3", "b.mp3"});
        f.host.answers = {{CFileOperations::Skip, true}};
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(f.engine.PasteCopy(f.to));
        QCOMPARE(f.host.preselected, QList<int>{CFileOperations::Overwrite}); // asked once
        QCOMPARE(QFile(f.to + "b.mp3").size(), qint64(7));
        QCOMPARE(f.host.rows, QStringList{"c.mp3"});

        // The next paste asks again, with skip preselected.
        f.engine.m_bApplyToAll = false;
        f.host.answers = {{CFileOperations::Overwrite, false}, {CFileOperations::Skip, false},
                          {CFileOperations::Skip, false}};
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(f.engine.PasteCopy(f.to));
        QCOMPARE(f.host.preselected, (QList<int>{CFileOperations::Overwrite, CFileOperations::Skip,
                                                 CFileOperations::Overwrite, CFileOperations::Skip}));
        QCOMPARE(QFile(f.to + "a.mp3").size(), QFile(f.from + "a.mp3").size()); // overwritten
        QCOMPARE(QFile(f.to + "b.mp3").size(), qint64(7));                       // skipped
    }

    void aCancelledQuestionStopsTheCopy()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"}, {"a.mp3"});
        MessageRecorder messages;
        f.host.answers = {{CFileOperations::Overwrite, false, false}};
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(!f.engine.PasteCopy(f.to));
        QCOMPARE(messages.entries()[0].text, QStringLiteral("ファイルコピーを中断しました。"));
        QCOMPARE(filesIn(f.to), QStringList{"a.mp3"});
    }

    void copyOntoItself_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("message");
        QTest::newRow("overwrite") << int(CFileOperations::Overwrite) << QStringList{"a.mp3"}
                                   << QStringLiteral("コピー元とコピー先が同じフォルダです。");
        QTest::newRow("rename") << int(CFileOperations::RenameAutomatically) << QStringList{"a(2).mp3", "a.mp3"}
                                << QString();
    }

    void copyOntoItself()
    {
        QFETCH(int, choice);
        QFETCH(QStringList, files);
        QFETCH(QString, message);
        Fixture f(m_places, {"a.mp3"});
        const QByteArray before = [&] {
            QFile file(f.from + "a.mp3");
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();
        f.document.SetCurrent(f.listOf(f.from));
        MessageRecorder messages;
        f.host.answers = {{choice, false}};
        f.remember(CFileOperations::ModeCopy);
        f.engine.PasteCopy(f.from);
        QCOMPARE(filesIn(f.from), files);
        QFile source(f.from + "a.mp3");
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(source.readAll(), before); // never truncated
        QCOMPARE(messages.entries().isEmpty(), message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(messages.entries()[0].text, message);
    }

    void cancelDuringTheThirdOfFive()
    {
        Fixture f(m_places, {"1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3"});
        f.host.cancelAfter = 3;
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(!f.engine.PasteCopy(f.to));
        QCOMPARE(filesIn(f.to), (QStringList{"1.mp3", "2.mp3", "3.mp3"}));
        QCOMPARE(f.host.rows, (QStringList{"1.mp3", "2.mp3"}));
        QCOMPARE(QFileInfo(f.to + "2.mp3").lastModified(), QFileInfo(f.from + "2.mp3").lastModified());
        QVERIFY(QFileInfo(f.to + "3.mp3").lastModified() > QFileInfo(f.from + "3.mp3").lastModified());
    }

    void aCopyThatFailsLeavesNothingBehind()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"}, {"b.mp3"});
        SetCopyWriteFault(1000, ENOSPC);
        MessageRecorder messages;
        f.host.answers = {{CFileOperations::Overwrite, false}};
        f.remember(CFileOperations::ModeCopy);
        QVERIFY(!f.engine.PasteCopy(f.to));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QCOMPARE(messages.entries()[0].text, FileResult{ENOSPC}.message());
        QCOMPARE(filesIn(f.to), QStringList{"b.mp3"}); // no part of a.mp3, the earlier b.mp3 whole
        QCOMPARE(QFile(f.to + "b.mp3").size(), qint64(7));
        QVERIFY(f.host.rows.isEmpty());
    }

    void moveListsTheFilesInTheirNewPlace()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"});
        const QDateTime time = QFileInfo(f.from + "a.mp3").lastModified();
        f.remember(CFileOperations::ModeCut);
        QVERIFY(f.engine.PasteMove(f.to));
        QVERIFY(filesIn(f.from).isEmpty());
        QCOMPARE(filesIn(f.to), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(QFileInfo(f.to + "a.mp3").lastModified(), time);
        QCOMPARE(f.document.FindList(f.listOf(f.from))->GetRecordCount(), 0);
        QCOMPARE(f.listed(), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.host.progressTexts.last(), QStringLiteral("ファイルを移動しています... ( 2 / 2 )"));
    }

    void aMoveAcrossFileSystemsKeepsTheSourceOfABadCopy()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"});
        QTemporaryDir memory(QStringLiteral("/dev/shm/tst_fileops-XXXXXX"));
        struct stat saveStat {}, memoryStat {};
        if (!memory.isValid() || ::stat(QFile::encodeName(f.save).constData(), &saveStat) != 0
            || ::stat(QFile::encodeName(memory.path()).constData(), &memoryStat) != 0 || saveStat.st_dev == memoryStat.st_dev)
            QSKIP("no second file system in /dev/shm");
        const QByteArray original = ReadWholeFile(f.from + "a.mp3");
        const auto reset = qScopeGuard([] { SetCopyCorruption(-1); });
        SetCopyCorruption(100); // the device changes byte 101 of what it is given
        MessageRecorder messages;
        f.remember(CFileOperations::ModeCut);

        QVERIFY(!f.engine.PasteMove(memory.path()));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QCOMPARE(messages.entries()[0].text, FileResult{EIO}.message());
        QCOMPARE(ReadWholeFile(f.from + "a.mp3"), original);
        QCOMPARE(filesIn(f.from), (QStringList{"a.mp3", "b.mp3"}));
        QVERIFY(filesIn(memory.path()).isEmpty());
        QCOMPARE(f.document.FindList(f.listOf(f.from))->GetRecordCount(), 2);
        QVERIFY(f.host.rows.isEmpty());
    }

    void moveIntoItsOwnFolderMovesNothing()
    {
        Fixture f(m_places, {"a.mp3"});
        MessageRecorder messages;
        f.remember(CFileOperations::ModeCut);
        QVERIFY(!f.engine.PasteMove(QDir::toNativeSeparators(f.from)));
        QCOMPARE(messages.entries()[0].text, QStringLiteral("移動元と移動先が同じフォルダです。"));
        QCOMPARE(filesIn(f.from), QStringList{"a.mp3"});
    }

    void aRemovedDeviceStopsAMove()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3", "c.mp3"});
        MessageRecorder messages;
        f.host.onProgress = [&](int done) {
            if (done == 1)
                f.engine.setDeviceRemoved();
        };
        f.remember(CFileOperations::ModeCut);
        QVERIFY(!f.engine.PasteMove(f.to));
        QCOMPARE(messages.entries()[0].text, QStringLiteral("デバイスが取り外されました。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QCOMPARE(filesIn(f.to), QStringList{"a.mp3"});
        QCOMPARE(filesIn(f.from), (QStringList{"b.mp3", "c.mp3"}));
    }

    void deleteKeepsProtectedAndUnreadableOnes()
    {
        Fixture f(m_places, {"1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3", "6.mp3"}, {}, {1, 3});
        WriteFileBytes(f.from + "7.mp3", ShortSpeechAudio()); // no recording header: deleted
        f.document.SetCurrent(f.listOf(f.from));
        MessageRecorder messages;
        QList<tagFileList> records = f.recordsOf(f.from);
        if (std::none_of(records.begin(), records.end(), [](const tagFileList& r) { return r.szFileName == "7.mp3"; })) {
            tagFileList plain;
            plain.szFileName = QStringLiteral("7.mp3");
            plain.szFilePath = QDir::toNativeSeparators(f.from + "7.mp3");
            records.append(plain);
        }
        QCOMPARE(records.size(), 7);
        // 6.mp3 is held by another operation: it might be protected, so it stays.
        QFile held(f.from + "6.mp3");
        QVERIFY(held.open(QIODevice::ReadOnly));
        QCOMPARE(flock(held.handle(), LOCK_EX | LOCK_NB), 0);
        f.engine.Remember(records, CFileOperations::ModeDelete);
        QVERIFY(f.engine.DeleteRememberedFiles());
        QCOMPARE(filesIn(f.from), (QStringList{"2.mp3", "4.mp3", "6.mp3"}));
        QCOMPARE(f.host.progressTexts.last(), QStringLiteral("ファイルを削除しています... ( 4 / 7 )"));
        QCOMPARE(f.host.refills, 1);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Information);
    }

    void deleteOfFiveWithTwoProtectedCountsThree()
    {
        Fixture f(m_places, {"1.mp3", "2.mp3", "3.mp3", "4.mp3", "5.mp3"}, {}, {0, 4});
        f.document.SetCurrent(f.listOf(f.from));
        MessageRecorder messages;
        f.remember(CFileOperations::ModeDelete);
        QVERIFY(f.engine.DeleteRememberedFiles());
        QCOMPARE(filesIn(f.from), (QStringList{"1.mp3", "5.mp3"}));
        QCOMPARE(f.host.progressTexts.last(), QStringLiteral("ファイルを削除しています... ( 3 / 5 )"));
        QCOMPARE(f.document.pCurrent()->GetRecordCount(), 2);
        QVERIFY(messages.entries().isEmpty());
    }
};

TALVEN77_REGISTER_TEST(FileOperationsTest);

#include "FileOperationsTest.moc"
