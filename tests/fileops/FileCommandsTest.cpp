#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestMounts.h"
#include "TestRegistry.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "export/UndoJournal.h"
#include "fileops/FileCommands.h"
#include "fileops/OverWriteDlg.h"
#include "fileops/RenameDlg.h"
#include "platform/DurableCopy.h"
#include "platform/ProgramIdentity.h"
#include "player/PanelButton.h"
#include "player/PanelDlg.h"
#include "recording/FileList.h"
#include "settings/SaveFolderCheck.h"
#include "settings/Setting.h"
#include "view/CommandSet.h"
#include "view/FolderTreePane.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/RecordingListPane.h"
#include "player/RecordingPanel.h"
#include "view/TALVEN77PCView.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QDrag>
#include <QDropEvent>
#include <QScopeGuard>
#include <QLineEdit>
#include <QMimeData>
#include <QStandardPaths>
#include <QTest>
#include <sys/file.h>

namespace {

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// Every file and folder below folder, hidden ones too, with its size.
QStringList everythingBelow(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        found.append(it.filePath().mid(folder.size()) + u' ' + QString::number(it.fileInfo().size()));
    }
    found.sort();
    return found;
}

} // namespace

// The file and folder commands as the view runs them, on a save folder with
// the folders "day1" (a.mp3, b.mp3) and "day2" (empty).
class FileCommandsTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    struct Fixture
    {
        QString save;
        CSetting setting;
        CTALVEN77PCDoc document;
        std::unique_ptr<CTALVEN77PCView> view;

        // panel: in place of the view's own, for tests that watch what is loaded.
        explicit Fixture(SimulatedPlaces& places, const QList<uint8_t>& protect = {}, RecordingPanel* panel = nullptr)
        {
            save = places.newFolder(QStringLiteral("save"));
            QDir().mkpath(save + QStringLiteral("/day1"));
            QDir().mkpath(save + QStringLiteral("/day2"));
            const QStringList names{"a.mp3", "b.mp3"};
            for (int i = 0; i < names.size(); ++i) {
                tagVoiceHeader header = MakeVoiceHeader(1);
                header.protectFlag = i < protect.size() ? protect[i] : 0;
                WriteFileBytes(save + QStringLiteral("/day1/") + names[i], BuildRecording(header, ShortSpeechAudio()));
            }
            setting.Load();
            setting.m_strSavePath = save;
            document.RunStartupChecks(save);
            view = std::make_unique<CTALVEN77PCView>(document, setting);
            if (panel)
                view->setPanel(panel);
            view->OnInitialUpdate();
            select(QStringLiteral("day1"));
        }
        ~Fixture()
        {
            if (view)
                view->setPanel(nullptr);
        }
        FileCommands& commands() { return view->fileCommands(); }
        QTreeWidgetItem* node(const QString& label)
        {
            QTreeWidgetItem* root = view->rootLabelled(kSaveRootLabel);
            for (int i = 0; i < root->childCount(); ++i) {
                if (root->child(i)->text(0) == label)
                    return root->child(i);
            }
            return nullptr;
        }
        void select(const QString& label) { view->folderTree()->setCurrentItem(node(label)); }
        void selectRows(const QList<int>& rows)
        {
            QItemSelectionModel* selection = view->recordingList()->selectionModel();
            selection->clear();
            for (const int row : rows)
                selection->select(view->recordings()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            if (!rows.isEmpty())
                selection->setCurrentIndex(view->recordings()->index(rows.first(), 0), QItemSelectionModel::NoUpdate);
        }
        QStringList rowNames()
        {
            QStringList names;
            for (int row = 0; row < view->recordings()->rowCount(); ++row)
                names.append(view->recordings()->recordAt(row).szFileName);
            return names;
        }
        bool enabled(Command command)
        {
            view->UpdateCommandStates();
            return view->commands().action(command)->isEnabled();
        }
        // The rename dialog answered with this text.
        void renameTo(const QString& text)
        {
            commands().setRenameDialogRunner([text](CRenameDlg& dialog) {
                dialog.field()->setText(text);
                dialog.accept();
                return dialog.result();
            });
        }
    };

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void copyPasteOnceThenPasteIsDisabled()
    {
        Fixture f(m_places);
        f.selectRows({0, 1});
        QVERIFY(f.enabled(Command::Copy));
        QVERIFY(f.enabled(Command::Cut));
        QVERIFY(!f.enabled(Command::Paste)); // nothing remembered yet
        f.view->commands().action(Command::Copy)->trigger();
        QVERIFY(f.enabled(Command::Paste));
        f.select(QStringLiteral("day2"));
        QVERIFY(f.enabled(Command::Paste));
        f.view->commands().action(Command::Paste)->trigger();
        QCOMPARE(filesIn(f.save + "/day2"), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.rowNames(), (QStringList{"a.mp3", "b.mp3"}));
        QVERIFY(!f.enabled(Command::Paste));
        QCOMPARE(filesIn(f.save + "/day1"), (QStringList{"a.mp3", "b.mp3"}));
    }

    void cutAndPasteMoves()
    {
        Fixture f(m_places);
        f.selectRows({1});
        f.commands().OnEditCut();
        QCOMPARE(f.rowNames(), (QStringList{"a.mp3", "b.mp3"})); // a cut recording stays until the paste
        f.select(QStringLiteral("day2"));
        f.commands().OnEditPaste();
        QCOMPARE(filesIn(f.save + "/day1"), QStringList{"a.mp3"});
        QCOMPARE(f.rowNames(), QStringList{"b.mp3"});
        f.select(QStringLiteral("day1"));
        QCOMPARE(f.rowNames(), QStringList{"a.mp3"});
    }

    // A paste lets go of the loaded recording while it works; afterwards the
    // highlighted row is loaded again, PLAY usable, and a click on it is no news.
    void afterAPasteTheHighlightedRowIsLoaded_data()
    {
        QTest::addColumn<bool>("cut");
        QTest::newRow("copy") << false;
        QTest::newRow("cut") << true;
    }

    void afterAPasteTheHighlightedRowIsLoaded()
    {
        QFETCH(bool, cut);
        Fixture f(m_places);
        QVERIFY(WriteFileBytes(f.save + QStringLiteral("/day2/c.mp3"), BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
        f.selectRows({0});
        cut ? f.commands().OnEditCut() : f.commands().OnEditCopy();
        f.select(QStringLiteral("day2"));
        CPanelDlg* panel = f.view->controlPanel();
        QCOMPARE(QFileInfo(panel->session().path()).fileName(), QStringLiteral("c.mp3"));
        f.commands().OnEditPaste();
        QCOMPARE(f.rowNames(), (QStringList{"a.mp3", "c.mp3"}));
        const int focused = f.view->recordingList()->currentIndex().row();
        QCOMPARE(f.view->recordingList()->selectedRowNumbers(), QList<int>{focused});
        QCOMPARE(panel->session().path(), f.save + QStringLiteral("/day2/") + f.rowNames()[focused]);
        QCOMPARE(f.view->listPane().loadedRow(), focused);
        QVERIFY(panel->button(CPanelDlg::IdPlay)->isEnabled());
    }

    void dropCopiesIntoAnotherFolder()
    {
        Fixture f(m_places);
        f.selectRows({0});
        const int day2 = FolderTreePane::listId(f.node(QStringLiteral("day2")));
        Q_EMIT f.view->folderTree()->dropOnFolder(day2);
        QCoreApplication::processEvents(); // the copy runs once the drag has ended
        QCOMPARE(filesIn(f.save + "/day2"), QStringList{"a.mp3"});
        QCOMPARE(f.document.FindList(day2)->GetRecordCount(), 1);
        QCOMPARE(f.rowNames(), (QStringList{"a.mp3", "b.mp3"})); // the shown folder is unchanged
        // Onto the selected folder itself: nothing.
        Q_EMIT f.view->folderTree()->dropOnFolder(FolderTreePane::listId(f.node(QStringLiteral("day1"))));
        QCoreApplication::processEvents();
        QCOMPARE(filesIn(f.save + "/day1"), (QStringList{"a.mp3", "b.mp3"}));
    }

    // Pressing on a selected row and moving drags the selected rows (not a
    // rubber band); dropped on another folder of the tree, they are copied there.
    // The platform's drag loop is stood in for; the rest is the window's own.
    void rowsDraggedOntoAFolderAreCopied()
    {
        NullRecordingPanel panel;
        Fixture f(m_places, {}, &panel);
        f.view->resize(900, 500);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        CMainList* list = f.view->recordingList();
        FolderTreePane* tree = f.view->folderTree();
        f.selectRows({0, 1});
        const QPoint from = list->visualRect(f.view->recordings()->index(1, 0)).center();
        const QPoint onto = tree->visualItemRect(f.node(QStringLiteral("day2"))).center();

        QByteArray dragged;
        bool accepted = false;
        // The platform's part: the pointer carries the drag to the folder and lets go there.
        list->setDragRunner([&](QDrag& drag) {
            const QMimeData* data = drag.mimeData();
            dragged = data->data(CMainList::recordingsMimeType());
            QDragEnterEvent enter(onto, Qt::CopyAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(tree->viewport(), &enter);
            QDragMoveEvent move(onto, Qt::CopyAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(tree->viewport(), &move);
            accepted = move.isAccepted();
            QDropEvent drop(onto, Qt::CopyAction, data, Qt::LeftButton, {});
            QApplication::sendEvent(tree->viewport(), &drop);
        });
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, from);
        QTest::mouseMove(list->viewport(), from + QPoint(2, 0));
        QTest::mouseMove(list->viewport(), from + QPoint(QApplication::startDragDistance() + 8, 0));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, from + QPoint(QApplication::startDragDistance() + 8, 0));
        QVERIFY(accepted);
        QCOMPARE(dragged, QByteArray("a.mp3\nb.mp3\n"));
        QCOMPARE(f.view->listPane().selectedCount(), 2); // the selection is what was dragged, not a band
        QTRY_COMPARE(filesIn(f.save + "/day2"), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(f.rowNames(), (QStringList{"a.mp3", "b.mp3"})); // the shown folder is unchanged
    }

    void deleteKeepsProtectedRecordings()
    {
        Fixture f(m_places, {1, 0});
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        f.selectRows({0, 1});
        f.commands().OnDeleteFiles();
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("選択中のファイルを削除してもよろしいですか？\n(保護マークが設定されているファイルは削除しません)"));
        QCOMPARE(filesIn(f.save + "/day1"), QStringList{"a.mp3"});
        QCOMPARE(f.rowNames(), QStringList{"a.mp3"});
    }

    void namesThatDifferInCaseAloneAreDifferentFiles()
    {
        Fixture f(m_places);
        QVERIFY(WriteFileBytes(f.save + "/day1/A.mp3", BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        f.select(QStringLiteral("day2"));
        f.select(QStringLiteral("day1"));
        const int row = int(f.rowNames().indexOf(QStringLiteral("a.mp3")));
        QVERIFY(row >= 0);
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        f.selectRows({row});
        f.commands().OnDeleteFiles();
        QCOMPARE(filesIn(f.save + "/day1"), (QStringList{"A.mp3", "b.mp3"}));
    }

    void renamingARecording_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("file");
        QTest::newRow("extension added") << "abc" << "abc.mp3";
        QTest::newRow("extension in capitals kept") << "abc.MP3" << "abc.MP3";
        QTest::newRow("unchanged") << "a.mp3" << "a.mp3";
    }

    void renamingARecording()
    {
        QFETCH(QString, typed);
        QFETCH(QString, file);
        Fixture f(m_places);
        MessageRecorder messages;
        f.selectRows({0});
        f.renameTo(typed);
        f.commands().OnRenameFile();
        QVERIFY(messages.entries().isEmpty());
        QVERIFY(QFile::exists(f.save + "/day1/" + file));
        QCOMPARE(f.rowNames().first(), file);
        QCOMPARE(f.view->recordingList()->currentIndex().row(), 0);
        QCOMPARE(f.document.GetExistingRecordPath(file), QDir::toNativeSeparators(f.save + "/day1/" + file));
    }

    void renamingRefusals()
    {
        Fixture f(m_places);
        MessageRecorder messages;
        f.selectRows({0});
        // A colon: the dialog says so and stays open (here: is cancelled then).
        f.commands().setRenameDialogRunner([](CRenameDlg& dialog) {
            dialog.field()->setText(QStringLiteral("a:b"));
            dialog.accept();
            return dialog.result();
        });
        f.commands().OnRenameFile();
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QVERIFY(messages.entries()[0].text.startsWith(QStringLiteral("フォルダ名に次の11文字は使用できません。")));
        QCOMPARE(filesIn(f.save + "/day1"), (QStringList{"a.mp3", "b.mp3"}));

        // Onto the other recording's name: the system's text, and the other file stays.
        const qint64 size = QFileInfo(f.save + "/day1/b.mp3").size();
        f.selectRows({0});
        f.renameTo(QStringLiteral("b"));
        f.commands().OnRenameFile();
        QCOMPARE(messages.entries().size(), 2);
        QCOMPARE(messages.entries()[1].text, FileResult{EEXIST}.message());
        QCOMPARE(filesIn(f.save + "/day1"), (QStringList{"a.mp3", "b.mp3"}));
        QCOMPARE(QFileInfo(f.save + "/day1/b.mp3").size(), size);
    }

    void saveUnderANewName()
    {
        Fixture f(m_places);
        MessageRecorder messages;
        f.selectRows({0});
        const QString source = f.save + "/day1/a.mp3";
        QString chosen = m_places.newFolder(QStringLiteral("elsewhere")) + "/copy.mp3";
        f.commands().setSaveAsChooser([&](const QString& initial) {
            [&] { QCOMPARE(initial, QStringLiteral("a.mp3")); }();
            return chosen;
        });
        f.commands().OnSaveAs();
        QCOMPARE(QFileInfo(chosen).size(), QFileInfo(source).size());
        // Onto itself: nothing copied, nothing destroyed, nothing said.
        chosen = source;
        const qint64 size = QFileInfo(source).size();
        f.commands().OnSaveAs();
        QCOMPARE(QFileInfo(source).size(), size);
        QVERIFY(messages.entries().isEmpty());
        // A failed copy says why.
        chosen = f.save + "/no such folder/x.mp3";
        f.commands().OnSaveAs();
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
    }

    void creatingFoldersOnOneDay()
    {
        Fixture f(m_places);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel));
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        for (int i = 0; i < 3; ++i)
            f.commands().OnCreateFolder();
        for (const QString& name : {today, today + "(2)", today + "(3)"}) {
            QVERIFY2(QFileInfo(f.save + u'/' + name).isDir(), qPrintable(name));
            QTreeWidgetItem* node = f.node(name);
            QVERIFY(node);
            QCOMPARE(f.document.GetListFolder(FolderTreePane::listId(node)),
                     QDir::toNativeSeparators(f.save + u'/' + name + u'/'));
        }
        QCOMPARE(f.view->folderTree()->currentItem(), f.view->rootLabelled(kSaveRootLabel)); // not selected
    }

    // A new folder's entry is synced into its parent, and so up to the save
    // folder: a power cut right after the command does not lose it.
    void aNewFolderReachesTheDisk()
    {
        Fixture f(m_places);
        f.select(QStringLiteral("day1"));
        QStringList synced;
        SetFolderSyncObserver([&](const QString& folder) { synced.append(QDir::cleanPath(folder)); });
        f.commands().OnCreateFolder();
        SetFolderSyncObserver({});
        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        QVERIFY(QFileInfo(f.save + "/day1/" + today).isDir());
        QVERIFY2(synced.contains(QDir::cleanPath(f.save + "/day1")), qPrintable(synced.join(u' ')));
        QVERIFY2(synced.contains(QDir::cleanPath(f.save)), qPrintable(synced.join(u' ')));
    }

    void deletingAFolderWithAProtectedRecordingBelow()
    {
        Fixture f(m_places);
        QDir().mkpath(f.save + "/day2/deeper/deepest");
        tagVoiceHeader header = MakeVoiceHeader(1);
        header.protectFlag = 1;
        QVERIFY(WriteFileBytes(f.save + "/day2/deeper/deepest/kept.mp3", BuildRecording(header, ShortSpeechAudio())));
        f.select(QStringLiteral("day2"));
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        f.commands().OnDeleteFolder();
        QCOMPARE(messages.entries().size(), 2);
        QCOMPARE(messages.entries()[1].text, QStringLiteral("保護されているファイルが存在するため削除できません。"));
        QVERIFY(QFile::exists(f.save + "/day2/deeper/deepest/kept.mp3"));
        QVERIFY(f.node(QStringLiteral("day2")));

        // A recording held by another operation might be protected: it blocks too.
        QVERIFY(QFile::remove(f.save + "/day2/deeper/deepest/kept.mp3"));
        QVERIFY(WriteFileBytes(f.save + "/day2/deeper/held.mp3", BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        {
            QFile held(f.save + "/day2/deeper/held.mp3");
            QVERIFY(held.open(QIODevice::ReadOnly));
            QCOMPARE(flock(held.handle(), LOCK_EX | LOCK_NB), 0);
            messages.scriptAnswers({MessageAnswer::Yes});
            f.commands().OnDeleteFolder();
            QCOMPARE(messages.entries().last().text, QStringLiteral("使用中か読み込めないファイルが存在するため削除できません。"));
            QVERIFY(QFile::exists(f.save + "/day2/deeper/held.mp3"));
        }
        // A file that is no recording never blocks; without the others the folder goes, with its node and lists.
        QVERIFY(WriteFileBytes(f.save + "/day2/deeper/notes.mp3", "not a recording"));
        messages.scriptAnswers({MessageAnswer::Yes});
        f.commands().OnDeleteFolder();
        QVERIFY(!QFileInfo::exists(f.save + "/day2"));
        QVERIFY(!f.node(QStringLiteral("day2")));
        QCOMPARE(f.view->folderTree()->currentItem(), f.view->rootLabelled(kSaveRootLabel));
        QVERIFY(!f.document.FindSaveSubfolderId(QDir::toNativeSeparators(f.save + "/day2/deeper/")));
    }

    // Where no trash can take the folder (here the home trash cannot be made), the user
    // decides whether it goes for good, which cannot be taken back.
    void deletingAFolderWithoutATrash()
    {
        Fixture f(m_places);
        const QString trash = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
        const QString kept = trash + QStringLiteral(".kept");
        QVERIFY(QDir().mkpath(QFileInfo(trash).path()));
        QVERIFY(!QFileInfo::exists(trash) || QDir().rename(trash, kept));
        const auto restore = qScopeGuard([&] {
            QFile::remove(trash);
            QDir().rename(kept, trash);
        });
        QVERIFY(WriteFileBytes(trash, "not a folder"));
        UndoJournal::instance().clear();
        f.select(QStringLiteral("day1"));
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes, MessageAnswer::No});
        f.commands().OnDeleteFolder();
        QCOMPARE(messages.entries().size(), 2);
        QVERIFY2(messages.entries()[1].text.startsWith(QStringLiteral("ごみ箱に移動できません。")), qPrintable(messages.entries()[1].text));
        QCOMPARE(messages.entries()[1].buttons, MessageButtons::YesNo);
        QVERIFY(QFile::exists(f.save + QStringLiteral("/day1/a.mp3")));
        QVERIFY(f.node(QStringLiteral("day1")));

        messages.scriptAnswers({MessageAnswer::Yes, MessageAnswer::Yes});
        f.commands().OnDeleteFolder();
        QCOMPARE(messages.entries().size(), 4);
        QVERIFY(!QFileInfo::exists(f.save + QStringLiteral("/day1")));
        QVERIFY(!f.node(QStringLiteral("day1")));
        QVERIFY(!UndoJournal::instance().canUndo());
    }

    void deletingAFolderThatHoldsAMount_data()
    {
        QTest::addColumn<bool>("bind");
        QTest::newRow("another file system") << false;
        QTest::newRow("a folder bound there") << true;
    }
    void deletingAFolderThatHoldsAMount()
    {
        QFETCH(bool, bind);
        Fixture f(m_places);
        const QString elsewhere = m_places.newFolder(QStringLiteral("elsewhere"));
        const QString at = f.save + QStringLiteral("/day2/deeper/card");
        QVERIFY(QDir().mkpath(at));
        ScopedMount mount = bind ? ScopedMount::Bind(elsewhere, at) : ScopedMount::Memory(at);
        if (!mount.mounted())
            QSKIP("mounting is not permitted here; it needs root");
        QVERIFY(WriteFileBytes(at + QStringLiteral("/REC001.MP3"), BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        QVERIFY(WriteFileBytes(f.save + QStringLiteral("/day2/notes.txt"), "notes"));
        const QStringList before = everythingBelow(f.save);
        f.select(QStringLiteral("day2"));
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});

        f.commands().OnDeleteFolder();
        QCOMPARE(messages.entries().size(), 2);
        QCOMPARE(messages.entries()[1].text,
                 QStringLiteral("別のドライブがマウントされているフォルダを含むため削除できません。\n")
                     + QDir::toNativeSeparators(at));
        QCOMPARE(everythingBelow(f.save), before);
        QVERIFY(f.node(QStringLiteral("day2")));
    }

    void anUnusableSaveFolderRefusesTheCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("savePath");
        for (const char* command : {"paste", "delete files", "rename file", "drop", "delete folder", "rename folder"})
            QTest::addRow("%s, empty", command) << command << "";
        // A new folder with no folder selected goes into the save folder itself.
        QTest::newRow("create folder, relative") << "create folder" << "Corvane/TALVEN-77";
        QTest::newRow("create folder, empty") << "create folder" << "";
    }
    void anUnusableSaveFolderRefusesTheCommands()
    {
        QFETCH(QString, command);
        QFETCH(QString, savePath);
        Fixture f(m_places);
        const QString here = m_places.newFolder(QStringLiteral("started-here"));
        const QString before = QDir::currentPath();
        const auto back = qScopeGuard([&] { QDir::setCurrent(before); });
        QVERIFY(QDir::setCurrent(here));
        f.selectRows({0});
        if (command == "paste") {
            f.commands().OnEditCopy();
            f.select(QStringLiteral("day2"));
        } else if (command == "delete folder" || command == "rename folder") {
            f.select(QStringLiteral("day2"));
        } else if (command == "create folder") {
            f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel));
        }
        f.renameTo(QStringLiteral("renamed"));
        f.setting.m_strSavePath = savePath;
        const QStringList files = everythingBelow(f.save);
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});

        if (command == "paste")
            f.commands().OnEditPaste();
        else if (command == "delete files")
            f.commands().OnDeleteFiles();
        else if (command == "rename file")
            f.commands().OnRenameFile();
        else if (command == "drop")
            f.commands().OnDropOnFolder(FolderTreePane::listId(f.node(QStringLiteral("day2"))));
        else if (command == "create folder")
            f.commands().OnCreateFolder();
        else if (command == "delete folder")
            f.commands().OnDeleteFolder();
        else
            f.commands().OnRenameFolder();
        QCOMPARE(messages.entries().size(), 1);
        // The save path is chosen in the settings dialog, opened by "設定(&O)...".
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("保存用フォルダが設定されていません。\n「設定」で保存用フォルダを選択してください。"));
        QCOMPARE(everythingBelow(f.save), files);
        QVERIFY(everythingBelow(here).isEmpty());
    }

    void renamingAFolder()
    {
        Fixture f(m_places);
        QDir().mkpath(f.save + "/day1/inner");
        f.select(QStringLiteral("day1"));
        f.renameTo(QStringLiteral("meeting"));
        f.commands().OnRenameFolder();
        QVERIFY(QFileInfo(f.save + "/meeting/a.mp3").exists());
        QTreeWidgetItem* node = f.node(QStringLiteral("meeting"));
        QVERIFY(node);
        QCOMPARE(f.view->folderTree()->currentItem(), node);
        QCOMPARE(node->childCount(), 1);
        QCOMPARE(node->child(0)->text(0), QStringLiteral("inner"));
        QCOMPARE(f.document.GetExistingRecordPath(QStringLiteral("a.mp3")),
                 QDir::toNativeSeparators(f.save + "/meeting/a.mp3"));

        // Onto a name that is taken: refused, nothing moves.
        MessageRecorder messages;
        f.renameTo(QStringLiteral("day2"));
        f.commands().OnRenameFolder();
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, FileResult{EEXIST}.message());
        QVERIFY(QFileInfo(f.save + "/meeting/a.mp3").exists());
    }

    void commandsWaitWhileFilesAreGoneThrough()
    {
        Fixture f(m_places);
        f.selectRows({0, 1});
        f.commands().OnEditCopy();
        f.select(QStringLiteral("day2"));
        QList<bool> during;
        f.commands().setProgressObserver([&](CFileCopyDlg&) {
            during.append(f.enabled(Command::Paste) || f.enabled(Command::Refresh)
                          || f.view->folderTree()->isEnabled());
        });
        f.commands().OnEditPaste();
        QVERIFY(!during.isEmpty());
        QVERIFY(!during.contains(true));
        QVERIFY(f.enabled(Command::Refresh));
        QVERIFY(f.view->folderTree()->isEnabled());
    }
};

TALVEN77_REGISTER_TEST(FileCommandsTest);

#include "FileCommandsTest.moc"
