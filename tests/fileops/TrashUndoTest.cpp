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
#include "platform/NumberedNames.h"
#include "platform/ProgramIdentity.h"
#include "recording/FileList.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <climits>
#include <unistd.h>

namespace {

QStringList entriesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The .trashinfo of an entry in a trash's files folder, as the desktop's trash lays it out.
struct TrashInfo
{
    QByteArray path;         // the Path value as written
    QByteArray deletionDate; // the DeletionDate value as written
    bool wellFormed = false;
};

TrashInfo readTrashInfo(const QString& file)
{
    TrashInfo info;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return info;
    const QList<QByteArray> lines = in.readAll().split('\n');
    info.wellFormed = lines.size() == 4 && lines[0] == "[Trash Info]" && lines[3].isEmpty();
    for (const QByteArray& line : lines) {
        if (line.startsWith("Path="))
            info.path = line.mid(5);
        else if (line.startsWith("DeletionDate="))
            info.deletionDate = line.mid(13);
    }
    return info;
}

// Runs one of the desktop's trash clients with the test's home; its standard output.
QString runTrashClient(const QString& program, const QStringList& arguments, const QString& folder = {},
                       const QByteArray& input = {})
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
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

    void trashEntriesOfAnyName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("space") << QStringLiteral("a b.MP3");
        QTest::newRow("percent") << QStringLiteral("100% done.MP3");
        QTest::newRow("looks encoded") << QStringLiteral("a%20b.MP3");
        QTest::newRow("Japanese") << QStringLiteral("会議 メモ（第2回）.MP3");
        QTest::newRow("hash and question mark") << QStringLiteral("#1?&=.MP3");
        // 250 bytes: with ".trashinfo" the name would pass the file system's limit.
        QTest::newRow("long name") << QString(82, u'長') + QStringLiteral(".MP3");
    }

    // The entry's Path is percent-encoded, so that every reader of the trash (file
    // managers, trash-cli, gio) finds the name it had; the undo brings it back from
    // there, and so does trash-restore.
    void trashEntriesOfAnyName()
    {
        QFETCH(QString, name);
        Fixture f(m_places, {name});
        const QString original = f.folder + name;
        const QByteArray bytes = ReadWholeFile(original);
        f.deleteAll();
        const QStringList inTrash = entriesIn(trash() + QStringLiteral("/files"));
        QCOMPARE(inTrash.size(), 1);
        if (name.toUtf8().size() + 10 <= NAME_MAX)
            QCOMPARE(inTrash[0], name);
        else
            QCOMPARE(inTrash[0], QString(80, u'長') + QStringLiteral(".MP3")); // cut between characters
        const TrashInfo info = readTrashInfo(trash() + QStringLiteral("/info/") + inTrash[0] + QStringLiteral(".trashinfo"));
        QVERIFY(info.wellFormed);
        // Only unreserved characters, '/' and %XX: nothing a reader could take for an escape.
        QVERIFY2(QRegularExpression(QStringLiteral("^(/|[A-Za-z0-9._~-]|%[0-9A-F]{2})+$")).match(QString::fromLatin1(info.path)).hasMatch(),
                 info.path.constData());
        QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(info.path)), original);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                     .match(QString::fromLatin1(info.deletionDate))
                     .hasMatch(),
                 info.deletionDate.constData());

        const QString trashList = QStandardPaths::findExecutable(QStringLiteral("trash-list"));
        if (!trashList.isEmpty()) {
            const QString listed = runTrashClient(trashList, {});
            QVERIFY2(listed.contains(u' ' + original + u'\n'), qPrintable(listed));
        }
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(ReadWholeFile(original), bytes);
        QVERIFY(entriesIn(trash() + QStringLiteral("/info")).isEmpty());

        const QString trashRestore = QStandardPaths::findExecutable(QStringLiteral("trash-restore"));
        if (trashRestore.isEmpty())
            QSKIP("trash-cli is not installed: trash-list and trash-restore were not tried");
        f.document.pCurrent()->Rescan();
        f.deleteAll();
        QVERIFY(!QFileInfo::exists(original));
        // trash-restore offers the entries deleted from the folder it runs in; the first is ours.
        runTrashClient(trashRestore, {}, f.folder, "0\n");
        QCOMPARE(entriesIn(f.folder), QStringList{name});
        QCOMPARE(ReadWholeFile(original), bytes);
    }

    // gio reads the trash through the desktop's virtual file system (gvfs), which a
    // desktop has and a bare test machine may not; its daemon is started on a message bus
    // of the test's own, with the test's home.
    void trashEntriesListedByGio_data() { trashEntriesOfAnyName_data(); }
    void trashEntriesListedByGio()
    {
        QFETCH(QString, name);
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        const QString busRunner = QStandardPaths::findExecutable(QStringLiteral("dbus-run-session"));
        if (gio.isEmpty() || busRunner.isEmpty())
            QSKIP("gio (libglib2.0-bin) or dbus-run-session (dbus-daemon) is not installed");
        Fixture f(m_places, {name});
        f.deleteAll();
        QProcess list;
        list.start(busRunner, {QStringLiteral("--"), gio, QStringLiteral("trash"), QStringLiteral("--list")});
        QVERIFY(list.waitForFinished(60000));
        if (list.exitCode() != 0)
            QSKIP(qPrintable(QStringLiteral("gio cannot read the trash here (gvfs is not installed): ")
                             + QString::fromUtf8(list.readAllStandardError()).trimmed().section(u'\n', -1)));
        // gio shows the bytes of a name beyond ASCII as \xNN.
        const QByteArray output = list.readAllStandardOutput();
        QByteArray bytes;
        for (qsizetype i = 0; i < output.size(); ++i) {
            bool hex = false;
            const int byte = output.mid(i + 2, 2).toInt(&hex, 16);
            if (output.mid(i, 2) == "\\x" && hex && i + 3 < output.size()) {
                bytes += char(byte);
                i += 3;
            } else {
                bytes += output[i];
            }
        }
        const QString listed = QString::fromUtf8(bytes);
        QVERIFY2(listed.contains(u'\t' + f.folder + name + u'\n'), qPrintable(listed));
    }

    // Two entries of one name in the trash: each gets a name of its own there, and each
    // comes back to its own folder.
    void sameNameTwiceInTheTrash()
    {
        Fixture first(m_places, {QStringLiteral("x.mp3")});
        Fixture second(m_places, {QStringLiteral("x.mp3")});
        QVERIFY(WriteFileBytes(second.folder + QStringLiteral("x.mp3"),
                               BuildRecording(MakeVoiceHeader(2, QStringLiteral("二つ目")), ShortSpeechAudio())));
        second.document.pCurrent()->Rescan();
        const QByteArray firstBytes = ReadWholeFile(first.folder + QStringLiteral("x.mp3"));
        const QByteArray secondBytes = ReadWholeFile(second.folder + QStringLiteral("x.mp3"));
        first.deleteAll();
        second.deleteAll();
        const QStringList names = entriesIn(trash() + QStringLiteral("/files"));
        QCOMPARE(names.size(), 2);
        QStringList paths;
        for (const QString& name : names)
            paths.append(QString::fromUtf8(QByteArray::fromPercentEncoding(
                readTrashInfo(trash() + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo")).path)));
        paths.sort();
        QStringList expected{first.folder + QStringLiteral("x.mp3"), second.folder + QStringLiteral("x.mp3")};
        expected.sort();
        QCOMPARE(paths, expected);
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(UndoJournal::instance().undo(), QString());
        QCOMPARE(ReadWholeFile(first.folder + QStringLiteral("x.mp3")), firstBytes);
        QCOMPARE(ReadWholeFile(second.folder + QStringLiteral("x.mp3")), secondBytes);
        QVERIFY(entriesIn(trash() + QStringLiteral("/files")).isEmpty());
    }

    void noTrashAsksBeforeDeletingForGood_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("no: kept") << false;
        QTest::newRow("yes: deleted for good") << true;
    }

    // Where no trash can take the recordings (here the home trash cannot be made), the
    // user decides whether they go for good; nothing can be taken back then.
    void noTrashAsksBeforeDeletingForGood()
    {
        QFETCH(bool, answer);
        Fixture f(m_places, {QStringLiteral("k1.mp3"), QStringLiteral("k2.mp3")});
        QVERIFY(QDir().mkpath(QFileInfo(trash()).path()));
        QVERIFY(WriteFileBytes(trash(), "not a folder"));
        MessageRecorder messages;
        messages.scriptAnswers({answer ? MessageAnswer::Yes : MessageAnswer::No});
        f.deleteAll();
        QFile::remove(trash());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].buttons, MessageButtons::YesNo);
        QVERIFY2(messages.entries()[0].text.startsWith(QStringLiteral("ごみ箱に移動できません。")),
                 qPrintable(messages.entries()[0].text));
        QCOMPARE(entriesIn(f.folder), answer ? QStringList() : (QStringList{"k1.mp3", "k2.mp3"}));
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
        // There the path is relative to the file system's top.
        const TrashInfo info = readTrashInfo(at + QStringLiteral("/.Trash-%1/info/rec.trashinfo").arg(::getuid()));
        QVERIFY(info.wellFormed);
        QCOMPARE(info.path, QByteArray("rec"));
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
