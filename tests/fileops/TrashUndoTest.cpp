#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "ScriptedHost.h"
#include "SimulatedPlaces.h"
#include "TestFiles.h"
#include "TestMounts.h"
#include "TestRegistry.h"
#include "CardBuilder.h"
#include "document/TALVEN77PCDoc.h"
#include "export/UndoJournal.h"
#include "fileops/FileOperations.h"
#include "platform/FileTransfer.h"
#include "platform/ProgramIdentity.h"
#include "recording/FileList.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QUrl>
#include <unistd.h>

namespace {

QStringList entriesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

// Deletes into the desktop's trash and takes file commands back, on real folders with a
// home and a data folder of the test's own (the trash is $XDG_DATA_HOME/Trash).
class TrashUndoTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;
    QString m_home;
    QByteArray m_oldHome, m_oldData;

    QString trash() const { return m_home + QStringLiteral("/.local/share/Trash"); }

    // A folder of the save folder shown in a document, holding recordings of these names.
    struct Fixture
    {
        QString save;
        QString folder;
        CTALVEN77PCDoc document;
        ScriptedHost host;
        CFileOperations engine{document, host};

        Fixture(SimulatedPlaces& places, const QStringList& names)
        {
            save = places.newFolder(QStringLiteral("save"));
            folder = save + QStringLiteral("/day/");
            QDir().mkpath(folder);
            for (const QString& name : names)
                WriteFileBytes(folder + name, BuildRecording(MakeVoiceHeader(1, name), ShortSpeechAudio()));
            document.RunStartupChecks(save);
            document.SetCurrent(*document.FindSaveSubfolderId(folder));
            document.pCurrent()->EnsureScanned();
        }
        void deleteAll()
        {
            engine.Remember(document.pCurrent()->records(), CFileOperations::ModeDelete);
            engine.DeleteRememberedFiles();
        }
    };

private Q_SLOTS:
    void initTestCase()
    {
        m_oldHome = qgetenv("HOME");
        m_oldData = qgetenv("XDG_DATA_HOME");
        m_home = m_places.newFolder(QStringLiteral("home"));
        qputenv("HOME", QFile::encodeName(m_home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home + QStringLiteral("/.local/share")));
    }
    void cleanupTestCase()
    {
        qputenv("HOME", m_oldHome);
        qputenv("XDG_DATA_HOME", m_oldData);
    }
    void init()
    {
        OpenProgramSettings()->clear();
        UndoJournal::instance().clear();
        QDir(trash()).removeRecursively();
        QVERIFY(m_places.setDrives({}));
    }

    // The recordings go to the trash with their .trashinfo, restorable from a file
    // manager; the undo brings them back as they were and tidies the trash.
    void deleteGoesToTheTrashAndComesBack()
    {
        Fixture f(m_places, {QStringLiteral("a.mp3"), QStringLiteral("会議.mp3")});
        const QByteArray bytes = ReadWholeFile(f.folder + QStringLiteral("会議.mp3"));
        f.deleteAll();
        QVERIFY(entriesIn(f.folder).isEmpty());
        QCOMPARE(entriesIn(trash() + QStringLiteral("/files")), (QStringList{"a.mp3", "会議.mp3"}));
        QFile info(trash() + QStringLiteral("/info/会議.mp3.trashinfo"));
        QVERIFY(info.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(info.readAll());
        QVERIFY(text.startsWith(QStringLiteral("[Trash Info]\nPath=")));
        const QString pathLine = text.section(u'\n', 1, 1);
        QCOMPARE(QUrl::fromPercentEncoding(pathLine.mid(5).toUtf8()), f.folder + QStringLiteral("会議.mp3"));
        info.close();

        QVERIFY(UndoJournal::instance().canUndo());
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(entriesIn(f.folder), (QStringList{"a.mp3", "会議.mp3"}));
        QCOMPARE(ReadWholeFile(f.folder + QStringLiteral("会議.mp3")), bytes);
        QVERIFY(entriesIn(trash() + QStringLiteral("/files")).isEmpty());
        QVERIFY(entriesIn(trash() + QStringLiteral("/info")).isEmpty());
        QVERIFY(!UndoJournal::instance().canUndo());
    }

    void undoRefusedWhenTheWorldChanged_data()
    {
        QTest::addColumn<int>("change");
        QTest::newRow("a file at the old place again") << 0;
        QTest::newRow("the trash entry gone") << 1;
    }

    // Nothing is touched, and the user is told why.
    void undoRefusedWhenTheWorldChanged()
    {
        QFETCH(int, change);
        Fixture f(m_places, {QStringLiteral("x.mp3"), QStringLiteral("y.mp3")});
        f.deleteAll();
        if (change == 0)
            QVERIFY(WriteFileBytes(f.folder + QStringLiteral("y.mp3"), "new"));
        else
            QVERIFY(QFile::remove(trash() + QStringLiteral("/files/y.mp3")));
        const QStringList inFolder = entriesIn(f.folder);
        const QStringList inTrash = entriesIn(trash() + QStringLiteral("/files"));
        QCOMPARE(UndoJournal::instance().undo(), UndoJournal::ChangedSinceMessage());
        QCOMPARE(entriesIn(f.folder), inFolder);
        QCOMPARE(entriesIn(trash() + QStringLiteral("/files")), inTrash);
        QVERIFY(!UndoJournal::instance().canUndo());
        if (change == 0)
            QCOMPARE(ReadWholeFile(f.folder + QStringLiteral("y.mp3")), QByteArray("new"));
        QFile::remove(trash() + QStringLiteral("/files/x.mp3"));
        QFile::remove(trash() + QStringLiteral("/files/y.mp3"));
        QDir(trash() + QStringLiteral("/info")).removeRecursively();
    }

    // The recorder must not find foreign folders on its card: its recordings go for good.
    void aCardsRecordingIsDeletedForGood()
    {
        const QString card = m_places.newFolder(QStringLiteral("card"));
        QString error;
        CardOptions options;
        options.folder = card;
        options.recordings = 2;
        QVERIFY2(MakeCard(options, &error), qPrintable(error));
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card}));
        CTALVEN77PCDoc document;
        document.RunStartupChecks(m_places.newFolder(QStringLiteral("save")));
        CFileList* list = document.fileLists().front().get();
        QCOMPARE(list->nKind(), int(kListCard));
        document.SetCurrent(list->nId());
        list->EnsureScanned();
        QList<tagFileList> records = list->records();
        QVERIFY(!records.isEmpty());
        for (tagFileList& record : records)
            record.header.protectFlag = 0;
        const QString path = records.first().szFilePath;
        tagVoiceHeader header;
        QVERIFY(ReadVoiceHeader(path, header));
        header.protectFlag = 0;
        QVERIFY(WriteVoiceHeader(path, header));
        ScriptedHost host;
        CFileOperations engine(document, host);
        engine.Remember({records.first()}, CFileOperations::ModeDelete);
        QVERIFY(MoveToTrashEnabled());
        QVERIFY(engine.DeleteRememberedFiles());
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY(entriesIn(trash() + QStringLiteral("/files")).isEmpty());
        QVERIFY(entriesIn(card).filter(QStringLiteral("Trash")).isEmpty());
        QVERIFY(!UndoJournal::instance().canUndo());
    }

    void settingOffDeletesForGood()
    {
        SetMoveToTrashEnabled(false);
        Fixture f(m_places, {QStringLiteral("z.mp3")});
        f.deleteAll();
        QVERIFY(entriesIn(f.folder).isEmpty());
        QVERIFY(entriesIn(trash() + QStringLiteral("/files")).isEmpty());
        QVERIFY(!UndoJournal::instance().canUndo());
    }

    // A folder on another file system than the home trash goes to that file system's
    // own trash ($topdir/.Trash-$uid), and comes back from there.
    void anotherFileSystemUsesItsOwnTrash()
    {
        const QString at = m_places.newFolder(QStringLiteral("mounted"));
        ScopedMount mount = ScopedMount::Memory(at);
        if (!mount.mounted())
            QSKIP("mounting a file system needs root");
        QVERIFY(QDir().mkpath(at + QStringLiteral("/rec")));
        QVERIFY(WriteFileBytes(at + QStringLiteral("/rec/m.mp3"), "audio"));
        QString inTrash;
        {
            UndoStepScope step(UndoJournal::Kind::Trash);
            QVERIFY(MoveToTrash(at + QStringLiteral("/rec"), &inTrash).ok());
            UndoJournal::instance().add(at + QStringLiteral("/rec"), inTrash);
        }
        QCOMPARE(inTrash, at + QStringLiteral("/.Trash-%1/files/rec").arg(::getuid()));
        QVERIFY(!QFileInfo::exists(at + QStringLiteral("/rec")));
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(ReadWholeFile(at + QStringLiteral("/rec/m.mp3")), QByteArray("audio"));
    }

    // A move, a rename and a new folder are taken back newest first; a folder that got
    // files since is not removed.
    void moveRenameAndFolderCreationComeBack()
    {
        Fixture f(m_places, {QStringLiteral("p.mp3"), QStringLiteral("q.mp3")});
        const QString other = f.save + QStringLiteral("/other/");
        QVERIFY(QDir().mkpath(other));
        f.engine.Remember(f.document.pCurrent()->records(), CFileOperations::ModeCut);
        QVERIFY(f.engine.PasteMove(other));
        QCOMPARE(entriesIn(other), (QStringList{"p.mp3", "q.mp3"}));
        {
            UndoStepScope step(UndoJournal::Kind::Rename);
            QVERIFY(RenameNoReplace(other + QStringLiteral("p.mp3"), other + QStringLiteral("r.mp3")).ok());
            UndoJournal::instance().add(other + QStringLiteral("p.mp3"), other + QStringLiteral("r.mp3"));
        }
        const QString made = f.save + QStringLiteral("/new");
        {
            UndoStepScope step(UndoJournal::Kind::CreateFolder);
            QVERIFY(QDir().mkdir(made));
            UndoJournal::instance().add(made, {});
        }
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QVERIFY(!QFileInfo::exists(made));
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(entriesIn(other), (QStringList{"p.mp3", "q.mp3"}));
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(entriesIn(f.folder), (QStringList{"p.mp3", "q.mp3"}));
        QVERIFY(entriesIn(other).isEmpty());

        {
            UndoStepScope step(UndoJournal::Kind::CreateFolder);
            QVERIFY(QDir().mkdir(made));
            UndoJournal::instance().add(made, {});
        }
        QVERIFY(WriteFileBytes(made + QStringLiteral("/kept.mp3"), "x"));
        QCOMPARE(UndoJournal::instance().undo(), UndoJournal::ChangedSinceMessage());
        QVERIFY(QFileInfo::exists(made + QStringLiteral("/kept.mp3")));
    }
};

TALVEN77_REGISTER_TEST(TrashUndoTest);
#include "TrashUndoTest.moc"
