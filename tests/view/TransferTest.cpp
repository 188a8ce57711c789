#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "ViewFixture.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "export/TransferRecord.h"
#include "fileops/FileCommands.h"
#include "fileops/FileCopyDlg.h"
#include "platform/ProgramIdentity.h"
#include "recording/FileList.h"
#include "settings/Setting.h"
#include "view/CommandSet.h"
#include "view/FolderTreePane.h"
#include "recording/RecordingColumns.h"
#include "view/RecordingListModel.h"
#include "view/MainList.h"
#include "view/RecordingListPane.h"
#include "view/TALVEN77PCView.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QProgressBar>
#include <QTest>

namespace {

QStringList recordingsBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.mp3")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

int transferredFlagOf(const QString& path)
{
    tagVoiceHeader header{};
    return ReadVoiceHeader(path, header) ? header.transferredFlag : -1;
}

} // namespace

// The recordings of the recorder and its card reaching the save folder from the
// window: automatically as the recorder arrives, and by the two commands.
class TransferTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    struct Fixture : ViewFixture
    {
        QString save;
        int progressShown = 0;
        std::function<void(CFileCopyDlg&)> onProgress;

        Fixture(const QString& saveFolder, bool autoUsb) : save(saveFolder)
        {
            setting.Load();
            setting.m_strSavePath = save;
            setting.m_nAutoUsb = autoUsb ? 1 : 0;
            open(save);
            view->fileCommands().setProgressObserver([this](CFileCopyDlg& dialog) {
                ++progressShown;
                if (onProgress)
                    onProgress(dialog);
            });
        }
        int nodes(const QString& root) { return view->rootLabelled(root)->childCount(); }
    };

    // A recorder's card with recorder number 7 and the given number of
    // recordings, of which untransferred are not yet transferred.
    QString recorder(const QString& name, int recordings, int untransferred)
    {
        const QString root = m_places.newFolder(name);
        if (!MakeCard({root, 7, recordings, 11, {}}) || ClearTransferredFlags(root) != recordings)
            return {};
        QStringList files = recordingsBelow(root);
        for (int i = untransferred; i < files.size(); ++i) {
            tagVoiceHeader header{};
            ReadVoiceHeader(root + u'/' + files[i], header);
            header.transferredFlag = 1;
            WriteVoiceHeader(root + u'/' + files[i], header);
        }
        return root;
    }

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void recorderArrives_data()
    {
        QTest::addColumn<bool>("autoUsb");
        QTest::addColumn<int>("untransferred");
        QTest::newRow("automatic transfer off") << false << 3;
        QTest::newRow("nothing to transfer") << true << 0;
        QTest::newRow("three to transfer") << true << 3;
    }
    void recorderArrives()
    {
        QFETCH(bool, autoUsb);
        QFETCH(int, untransferred);
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/notes")));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/notes/n.mp3"), BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        Fixture f(save, autoUsb);
        // A folder of the save folder is on show meanwhile: it stays so.
        QTreeWidgetItem* notes = f.view->rootLabelled(kSaveRootLabel)->child(0);
        f.view->folderTree()->setCurrentItem(notes);
        const QString card = recorder(QStringLiteral("recorder"), 5, untransferred);
        MessageRecorder messages;

        QVERIFY(m_places.setDrives({QStringLiteral("usb ") + card}));
        QTRY_COMPARE(f.nodes(kRecorderRootLabel), 1);
        QVERIFY(f.panel.usb);
        const bool transfers = autoUsb && untransferred > 0;
        if (transfers)
            QTRY_COMPARE(recordingsBelow(save).size(), 1 + untransferred);
        else
            QTest::qWait(200);
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(f.progressShown > 0, transfers);
        QCOMPARE(recordingsBelow(save).size(), 1 + (transfers ? untransferred : 0));
        QList<tagFileList> left;
        QCOMPARE(f.document.CollectUntransferred(kListRecorder, left), transfers ? 0 : untransferred);
        if (!transfers)
            return;
        for (const QString& copy : recordingsBelow(save)) {
            if (copy.startsWith(QStringLiteral("notes/")))
                continue;
            QVERIFY2(copy.startsWith(QStringLiteral("007/2026-11/")), qPrintable(copy));
            QCOMPARE(transferredFlagOf(save + u'/' + copy), 1);
        }
        for (const QString& source : recordingsBelow(card))
            QCOMPARE(transferredFlagOf(card + u'/' + source), 1);
        // The save folder's tree shows the new folder, and the folder on show is the same one.
        QTreeWidgetItem* saveRoot = f.view->rootLabelled(kSaveRootLabel);
        QCOMPARE(saveRoot->childCount(), 2);
        QCOMPARE(f.view->folderTree()->currentItem()->text(0), QStringLiteral("notes"));
        QCOMPARE(f.view->recordings()->rowCount(), 1);
    }

    void recorderArrivingDuringACopyTransfersAfterIt()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        for (const QString& folder : {QStringLiteral("/a"), QStringLiteral("/b")})
            QVERIFY(QDir().mkpath(save + folder));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/a/n.mp3"), BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        const QString card = recorder(QStringLiteral("recorder"), 2, 2);
        Fixture f(save, true);
        QTreeWidgetItem* saveRoot = f.view->rootLabelled(kSaveRootLabel);
        const auto folder = [saveRoot](const QString& label) {
            for (int i = 0; i < saveRoot->childCount(); ++i) {
                if (saveRoot->child(i)->text(0) == label)
                    return saveRoot->child(i);
            }
            return static_cast<QTreeWidgetItem*>(nullptr);
        };
        f.view->folderTree()->setCurrentItem(folder(QStringLiteral("a")));
        f.view->recordingList()->selectAll();
        bool arrived = false;
        f.onProgress = [&](CFileCopyDlg&) {
            if (arrived)
                return;
            arrived = true;
            m_places.setDrives({QStringLiteral("usb ") + card});
            for (int i = 0; i < 100 && f.nodes(kRecorderRootLabel) == 0; ++i)
                QTest::qWait(20);
            QCOMPARE(recordingsBelow(save).size(), 1); // nothing of the recorder's yet
        };
        f.view->fileCommands().OnDropOnFolder(FolderTreePane::listId(folder(QStringLiteral("b"))));
        QVERIFY(arrived);
        QCOMPARE(f.nodes(kRecorderRootLabel), 1);
        QTRY_COMPARE(recordingsBelow(save),
                     (QStringList{"007/2026-11/REC00001.MP3", "007/2026-11/REC00002.MP3", "a/n.mp3", "b/n.mp3"}));
        QTRY_VERIFY(!f.view->fileCommands().isRunning());
    }

    void automaticTransferWaitsForAnOpenQuestion()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = recorder(QStringLiteral("recorder"), 2, 2);
        Fixture f(save, true);
        QDialog question(f.view.get());
        question.setModal(true);
        question.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &question);
        QVERIFY(m_places.setDrives({QStringLiteral("usb ") + card}));
        QTRY_COMPARE(f.nodes(kRecorderRootLabel), 1);
        QTest::qWait(700);
        QCOMPARE(recordingsBelow(save).size(), 0);
        question.close();
        QTRY_COMPARE(recordingsBelow(save).size(), 2);
    }

    // The recorder's list covers all its day folders: two recordings of one name
    // (its numbering started again) are two rows, each for its own file.
    void namesakesInTheRecordersDayFolders()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = m_places.newFolder(QStringLiteral("recorder"));
        QVERIFY(WriteFileBytes(card + QStringLiteral("/Device.Dat"), DeviceDatBytes(7)));
        const QStringList paths = {card + QStringLiteral("/007_TALVEN-77/202611/02/a.mp3"),
                                   card + QStringLiteral("/007_TALVEN-77/202611/03/a.mp3")};
        for (int i = 0; i < 2; ++i) {
            QVERIFY(QDir().mkpath(QFileInfo(paths[i]).path()));
            QVERIFY(WriteFileBytes(paths[i], BuildRecording(MakeVoiceHeader(1, QString::number(i)), ShortSpeechAudio()),
                                   QDateTime(QDate(2026, 11, 2 + i), QTime(9, 0))));
        }
        QVERIFY(m_places.setDrives({QStringLiteral("usb ") + card}));
        Fixture f(save, false);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kRecorderRootLabel)->child(0));
        RecordingListModel* rows = f.view->recordings();
        QCOMPARE(rows->rowCount(), 2);
        QStringList loaded;
        for (int row = 0; row < 2; ++row) {
            f.view->recordingList()->setCurrentIndex(rows->index(row, 0));
            QCOMPARE(f.panel.loadedPath, rows->recordAt(row).szFilePath);
            loaded.append(f.panel.loadedPath);
        }
        loaded.sort();
        QCOMPARE(loaded, paths);
        f.view->recordingList()->selectAll();
        f.view->fileCommands().OnEditCopy();
        QStringList remembered;
        for (const tagFileList& record : f.view->fileCommands().engine().remembered())
            remembered.append(record.szFilePath);
        remembered.sort();
        QCOMPARE(remembered, paths);
    }

    void backupCommandAsksAndMarksTheRows()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = recorder(QStringLiteral("card"), 4, 3);
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card}));
        Fixture f(save, true);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kCardRootLabel)->child(0));
        QCOMPARE(f.view->recordings()->rowCount(), 4);
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::No, MessageAnswer::Yes});

        f.view->fileCommands().OnTransfer(kListCard);   // answered No
        QCOMPARE(recordingsBelow(save).size(), 0);
        f.view->fileCommands().OnTransfer(kListCard);   // answered Yes
        QCOMPARE(recordingsBelow(save).size(), 3);
        f.view->fileCommands().OnTransfer(kListCard);
        QCOMPARE(messages.entries().size(), 3);
        const QString question = QStringLiteral("3件の未転送ファイルが存在します。\nバックアップを行いますか？");
        QCOMPARE(messages.entries()[0].text, question);
        QCOMPARE(messages.entries()[1].text, question);
        QCOMPARE(messages.entries()[1].icon, MessageIcon::Question);
        QCOMPARE(messages.entries()[2].text, QStringLiteral("バックアップするファイルはありません。"));
        QCOMPARE(messages.entries()[2].icon, MessageIcon::None);

        RecordingListModel* rows = f.view->recordings();
        const int column = int(rows->shownKeys().indexOf(kKeyTransferred));
        QVERIFY(column >= 0);
        for (int row = 0; row < rows->rowCount(); ++row) {
            QCOMPARE(rows->data(rows->index(row, column), Qt::DisplayRole).toString(), QStringLiteral("    済    "));
            QCOMPARE(transferredFlagOf(rows->recordAt(row).szFilePath), 1);
        }
        QVERIFY(!f.view->fileCommands().isRunning());
        QCOMPARE(f.panel.calls.count(QStringLiteral("unload 0")) >= 1, true);
        // The highlighted row is the recording loaded again.
        const int focused = f.view->recordingList()->currentIndex().row();
        QCOMPARE(f.view->recordingList()->selectedRowNumbers(), QList<int>{focused});
        QCOMPARE(f.panel.calls.last(),
                 QStringLiteral("load %1 %2").arg(rows->recordAt(focused).szFileName).arg(focused + 1));
        QCOMPARE(f.view->listPane().loadedRow(), focused);
    }

    void cardRemovedWhileTheQuestionIsUp()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = recorder(QStringLiteral("card"), 2, 2);
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card}));
        Fixture f(save, false);
        // Answers Yes once the card has gone.
        struct PullingPresenter final : StackedMessagePresenter
        {
            std::function<void()> pull;
            QStringList texts;
            MessageAnswer present(const QString& text, MessageIcon, MessageButtons buttons) override
            {
                texts.append(text);
                if (buttons != MessageButtons::YesNo)
                    return MessageAnswer::Ok;
                pull();
                return MessageAnswer::Yes;
            }
        } messages;
        messages.pull = [&] {
            m_places.setDrives({});
            for (int i = 0; i < 100 && f.nodes(kCardRootLabel) > 0; ++i)
                QTest::qWait(20);
        };
        f.view->fileCommands().OnTransfer(kListCard);
        QCOMPARE(f.nodes(kCardRootLabel), 0);
        QCOMPARE(messages.texts.size(), 2);
        QCOMPARE(messages.texts[1], QStringLiteral("デバイスが取り外されました。"));
        QVERIFY(QDir(save).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        QVERIFY(!f.view->fileCommands().isRunning());
    }

    void recorderRemovedDuringTheTransfer()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = recorder(QStringLiteral("recorder"), 3, 3);
        Fixture f(save, true);
        bool pulled = false;
        f.onProgress = [&](CFileCopyDlg& dialog) {
            if (pulled || dialog.progressBar()->value() != 2)
                return;
            pulled = true;
            m_places.setDrives({});
            for (int i = 0; i < 100 && f.nodes(kRecorderRootLabel) > 0; ++i)
                QTest::qWait(20);
        };
        MessageRecorder messages;
        QVERIFY(m_places.setDrives({QStringLiteral("usb ") + card}));
        QTRY_VERIFY(pulled);
        QTRY_VERIFY(!f.view->fileCommands().isRunning());
        QCOMPARE(f.nodes(kRecorderRootLabel), 0);
        QVERIFY(!f.panel.usb);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("デバイスが取り外されました。"));
        // Both copies are whole and carry their flags, which a copy takes before its
        // sync; the recorder went before its files took theirs, and the next transfer
        // completes them from these copies.
        QList<int> flags;
        for (const QString& copy : recordingsBelow(save))
            flags.append(transferredFlagOf(save + u'/' + copy));
        QCOMPARE(flags, (QList<int>{1, 1}));
    }

    // Every recording a transfer brings goes into the user's transfer record, newest
    // first, and the status bar says how many there were.
    void aTransferIsRecordedAndSummed()
    {
        QFile::remove(TransferRecord::FilePath());
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = recorder(QStringLiteral("card"), 4, 3);
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card}));
        Fixture f(save, true);
        QStringList statusTexts;
        QObject::connect(f.view.get(), &CTALVEN77PCView::statusText, f.view.get(),
                         [&](const QString& text) { statusTexts.append(text); });
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        f.view->fileCommands().OnTransfer(kListCard);
        QCOMPARE(statusTexts.last(), QStringLiteral("3件のファイルを転送しました"));

        const QList<TransferRecordEntry> entries = TransferRecord::ReadAll();
        QCOMPARE(entries.size(), 3);
        QStringList destinations;
        for (const TransferRecordEntry& entry : entries) {
            QCOMPARE(entry.recorderNumber, 7);
            QVERIFY(entry.source.startsWith(card));
            QVERIFY(entry.destination.startsWith(save));
            QCOMPARE(entry.size, QFileInfo(entry.destination).size());
            QCOMPARE(entry.size, QFileInfo(entry.source).size());
            QVERIFY(entry.verified);
            QVERIFY(entry.marked);
            destinations.append(QDir(save).relativeFilePath(entry.destination));
        }
        destinations.sort();
        QCOMPARE(destinations, recordingsBelow(save));
        QVERIFY(entries[0].time >= entries[2].time);
    }

    // A delete in a folder of the save folder goes to the trash, and the edit menu's
    // undo is offered at once and brings the recording back.
    void aDeleteIsUndoneFromTheMenu()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/notes")));
        const QByteArray bytes = BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio());
        QVERIFY(WriteFileBytes(save + QStringLiteral("/notes/n.mp3"), bytes));
        Fixture f(save, false);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel)->child(0));
        f.view->recordingList()->selectAll();
        QAction* undo = f.view->commands().action(Command::Undo);
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        f.view->fileCommands().OnDeleteFiles();
        QVERIFY(!QFileInfo::exists(save + QStringLiteral("/notes/n.mp3")));
        QVERIFY(undo->isEnabled());
        undo->trigger();
        QCOMPARE(ReadWholeFile(save + QStringLiteral("/notes/n.mp3")), bytes);
        QVERIFY(!undo->isEnabled());
        // The folder shown stays shown, with the recording back in its list at once.
        QCOMPARE(f.view->folderTree()->currentItem()->text(0), QStringLiteral("notes"));
        QCOMPARE(f.view->recordings()->rowCount(), 1);
    }
};

TALVEN77_REGISTER_TEST(TransferTest);

#include "TransferTest.moc"
