#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "ViewFixture.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/ProgramIdentity.h"
#include "SimulatedPlaces.h"
#include "view/FolderTreePane.h"
#include "settings/Setting.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "player/RecordingPanel.h"
#include "device/Drives.h"
#include "view/CommandSet.h"
#include "view/RecordingListPane.h"
#include "view/TALVEN77PCView.h"

#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>


// Drags the bar's handle with the mouse to x in the splitter.
void dragSplitter(QSplitter* splitter, int x)
{
    QSplitterHandle* handle = splitter->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, handle->mapFromParent(QPoint(x + grip.x(), handle->y() + grip.y())));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromParent(QPoint(x + grip.x(), handle->y() + grip.y())));
}

class ViewTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;
    CSetting m_setting; // every column and the row numbers shown

    QString newFolder(const QString& name) { return m_places.newFolder(name); }
    // Short recordings with these names in a folder.
    static void writeRecordings(const QString& folder, const QStringList& names)
    {
        for (const QString& name : names)
            QVERIFY(WriteFileBytes(folder + u'/' + name, BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
    }
    // A card in a reader ("card") or the recorder ("usb") holding recordings,
    // attached alone through the simulated drives; its folder, or empty on failure.
    QString attachDrive(const QString& kind, uint16_t number, int recordings)
    {
        const QString root = newFolder(kind);
        if (!MakeCard({root, number, recordings, number, {}}) || !m_places.setDrives({kind + u' ' + root}))
            return {};
        return root;
    }

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void selectionPerNodeKind()
    {
        // A card whose recorder folder is there, and a recorder whose folder is missing.
        const QString card = newFolder(QStringLiteral("card"));
        QVERIFY(MakeCard({card, 2, 2, 7, {}}));
        const QString recorder = newFolder(QStringLiteral("recorder"));
        QVERIFY(WriteFileBytes(recorder + QStringLiteral("/Device.Dat"), DeviceDatBytes(1)));
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card, QStringLiteral("usb ") + recorder}));
        const QString save = newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/day"));

        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        CTALVEN77PCView view(document, m_setting);
        view.OnInitialUpdate();
        QStringList statusTexts;
        connect(&view, &CTALVEN77PCView::statusText, this, [&](const QString& text) { statusTexts.append(text); });
        MessageRecorder messages;
        QTreeWidget* tree = view.folderTree();

        QTreeWidgetItem* cardNode = view.rootLabelled(kCardRootLabel)->child(0);
        tree->setCurrentItem(cardNode);
        QCOMPARE(view.currentFolderKind(), int(kListCard));
        QCOMPARE(document.pCurrent()->nKind(), int(kListCard));
        QCOMPARE(document.pCurrent()->GetRecordCount(), 2);
        QCOMPARE(statusTexts, (QStringList{QStringLiteral("ファイルリスト構築中...　[%1]").arg(cardNode->text(0)), "レディ"}));
        QVERIFY(messages.entries().isEmpty());

        tree->setCurrentItem(view.rootLabelled(kRecorderRootLabel)->child(0));
        QCOMPARE(view.currentFolderKind(), int(kListRecorder));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("装置のSDカードが書込み禁止です。確認してください。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);

        tree->setCurrentItem(view.rootLabelled(kRecorderRootLabel));
        QCOMPARE(view.currentFolderKind(), int(kListRecorder));
        QVERIFY(!document.pCurrent());
        tree->setCurrentItem(view.rootLabelled(kSaveRootLabel));
        QCOMPARE(view.currentFolderKind(), int(kListSaveFolder));
        tree->setCurrentItem(view.rootLabelled(kCardRootLabel));
        QCOMPARE(view.currentFolderKind(), 0);
        tree->setCurrentItem(view.topRoot());
        QCOMPARE(view.currentFolderKind(), 0);
        QVERIFY(!document.pCurrent());

        // An empty save folder is scanned again on every selection.
        QTreeWidgetItem* day = view.rootLabelled(kSaveRootLabel)->child(0);
        tree->setCurrentItem(day);
        QCOMPARE(document.pCurrent()->GetRecordCount(), 0);
        tree->setCurrentItem(view.topRoot());
        QVERIFY(WriteFileBytes(save + QStringLiteral("/day/new.mp3"), BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        tree->setCurrentItem(day);
        QCOMPARE(document.pCurrent()->GetRecordCount(), 1);
    }

    void registeringAndReleasingFolders()
    {
        const QString save = newFolder(QStringLiteral("save"));
        writeRecordings(save + QStringLiteral("/day"), {"x.mp3"});
        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        CTALVEN77PCView view(document, m_setting);
        view.OnInitialUpdate();
        view.resize(800, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        FolderTreePane* tree = view.folderTree();
        QString chosen;
        int asked = 0;
        view.setFolderChooser([&] {
            ++asked;
            return chosen;
        });
        MessageRecorder messages;
        QTreeWidgetItem* optionRoot = view.rootLabelled(kOptionRootLabel);
        QTreeWidgetItem* day = view.rootLabelled(kSaveRootLabel)->child(0);
        // As the user does it: a click, after which the tree selects what it was clicked on.
        const auto click = [&](QTreeWidgetItem* node) {
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
        };
        const auto selectedOnly = [&](QTreeWidgetItem* node) {
            return tree->currentItem() == node && tree->selectedItems() == QList<QTreeWidgetItem*>{node};
        };

        // Cancelled: the node selected before is selected again, with its list.
        click(day);
        QCOMPARE(view.recordings()->rowCount(), 1);
        click(optionRoot);
        QCOMPARE(asked, 1);
        QTRY_VERIFY(selectedOnly(day));
        QVERIFY(document.pCurrent());
        QCOMPARE(document.pCurrent()->strLabel(), QStringLiteral("day"));
        QCOMPARE(view.recordings()->rowCount(), 1);
        QCOMPARE(view.currentFolderKind(), int(kListSaveFolder));

        // A folder chosen: its node is added and selected, and its folder scanned and listed.
        chosen = newFolder(QStringLiteral("opt"));
        writeRecordings(chosen, {"a.mp3", "b.mp3"});
        click(optionRoot);
        QCOMPARE(optionRoot->childCount(), 1);
        QTRY_VERIFY(selectedOnly(optionRoot->child(0)));
        QCOMPARE(optionRoot->child(0)->text(0), chosen);
        QCOMPARE(view.currentFolderKind(), int(kListRegistered));
        QCOMPARE(document.pCurrent()->GetRecordCount(), 2); // scanned when selected
        QCOMPARE(view.recordings()->rowCount(), 2);
        QCOMPARE(OpenProgramSettings()->value(QStringLiteral("OptionFolder/FolderNo1")).toString(), chosen);

        // The same folder again adds nothing and returns to the node selected before.
        click(day);
        click(optionRoot);
        QCOMPARE(optionRoot->childCount(), 1);
        QTRY_VERIFY(selectedOnly(day));
        QCOMPARE(document.pCurrent()->strLabel(), QStringLiteral("day"));
        tree->setCurrentItem(optionRoot->child(0));

        // Release it: the top root is selected and the node goes.
        view.OnReleaseFolder();
        QCOMPARE(optionRoot->childCount(), 0);
        QCOMPARE(tree->currentItem(), view.topRoot());
        QCOMPARE(OpenProgramSettings()->value(QStringLiteral("OptionFolder/Count")).toInt(), 0);
        QCOMPARE(document.CountOptionFolders(), 0);
        QVERIFY(messages.entries().isEmpty());

        // Ten registered: the limit message, no folder chooser.
        for (int i = 0; i < 10; ++i)
            QVERIFY(document.RegisterOptionFolder(newFolder(QStringLiteral("more"))));
        asked = 0;
        tree->setCurrentItem(optionRoot);
        QCOMPARE(asked, 0);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("登録できるフォルダ数は10個までです。これ以上追加できません"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
    }

    void contextMenus()
    {
        QVERIFY(!attachDrive(QStringLiteral("card"), 3, 1).isEmpty());
        const QString save = newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/a/b"));
        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        QVERIFY(document.RegisterOptionFolder(newFolder(QStringLiteral("opt"))));
        CTALVEN77PCView view(document, m_setting);
        view.OnInitialUpdate();
        const auto itemsOf = [](const std::unique_ptr<QMenu>& menu) {
            QStringList texts;
            for (QAction* action : menu->actions())
                texts.append(action->text());
            return texts;
        };
        // A right click selects the node before its menu shows.
        const auto menuFor = [&](QTreeWidgetItem* node) {
            view.folderTree()->setCurrentItem(node);
            return view.treeMenuFor(node);
        };
        const QStringList saveItems{"展開／折りたたみ", "貼り付け", "フォルダの作成", "削除", "名前の変更"};
        QTreeWidgetItem* saveRoot = view.rootLabelled(kSaveRootLabel);
        QCOMPARE(itemsOf(menuFor(saveRoot)), saveItems);
        QCOMPARE(menuFor(saveRoot)->title(), QStringLiteral("保存用ﾌｫﾙﾀﾞ"));
        QCOMPARE(itemsOf(menuFor(saveRoot->child(0))), saveItems);
        QVERIFY(menuFor(saveRoot->child(0))->actions()[0]->isEnabled());               // a has b
        QVERIFY(!menuFor(saveRoot->child(0)->child(0))->actions()[0]->isEnabled());    // b has none
        const auto optionMenu = menuFor(view.rootLabelled(kOptionRootLabel)->child(0));
        QCOMPARE(itemsOf(optionMenu), (QStringList{"フォルダの解放(&F)", "貼り付け"}));
        QVERIFY(optionMenu->actions()[0]->isEnabled());
        const auto cardMenu = menuFor(view.rootLabelled(kCardRootLabel)->child(0));
        QCOMPARE(itemsOf(cardMenu), (QStringList{"保存用フォルダにバックアップ", "取り出し"}));
        QVERIFY(cardMenu->actions()[1]->isEnabled()); // eject: the same command as the File menu's
        QCOMPARE(cardMenu->actions()[1]->statusTip(), view.commands().action(Command::Eject)->statusTip());
        QVERIFY(!view.treeMenuFor(view.rootLabelled(kCardRootLabel)));
        QVERIFY(!view.treeMenuFor(view.rootLabelled(kOptionRootLabel)));
        QVERIFY(!view.treeMenuFor(view.rootLabelled(kRecorderRootLabel)));
        QVERIFY(!view.treeMenuFor(view.topRoot()));
        QCOMPARE(itemsOf(view.listMenu()), (QStringList{"再生", "切り取り", "コピー", "貼り付け", "削除", "名前の変更...", "書き出し..."}));
    }

    void listFollowsTheSelection()
    {
        const QString save = newFolder(QStringLiteral("save"));
        writeRecordings(save + QStringLiteral("/day"), {"b.mp3", "a.mp3", "c.mp3"});
        ViewFixture fixture(save, m_setting);
        CTALVEN77PCDoc& document = fixture.document;
        CTALVEN77PCView& view = *fixture.view;
        FakePanel& panel = fixture.panel;
        QList<int> counts;
        connect(&view, &CTALVEN77PCView::recordingCount, this, [&](int count) { counts.append(count); });
        MessageRecorder messages;

        view.folderTree()->setCurrentItem(view.rootLabelled(kSaveRootLabel)->child(0));
        RecordingListModel* model = view.recordings();
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(model->recordAt(0).szFileName, QStringLiteral("a.mp3")); // sorted by name
        QCOMPARE(counts.last(), 3);
        QVERIFY(panel.allowed);
        QCOMPARE(panel.calls.last(), QStringLiteral("load a.mp3 1")); // the first row is selected and loaded
        QCOMPARE(model->markedRow(), 0);

        // Two rows: the marker goes and the panel lets go of its recording.
        view.recordingList()->selectionModel()->select(model->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(view.listPane().selectedCount(), 2);
        QCOMPARE(model->markedRow(), -1);
        QCOMPARE(panel.calls.last(), QStringLiteral("unload 2"));

        // A file deleted from outside: the message, and its record and row go.
        QVERIFY(QFile::remove(save + QStringLiteral("/day/c.mp3")));
        view.recordingList()->setCurrentIndex(model->index(2, 0));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("[c.mp3]は存在しません。他のアプリケーションで削除された可能性があります。\nファイルリストから削除します。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(document.pCurrent()->GetRecordCount(), 2);
        QVERIFY(view.recordingList()->selectedRowNumbers().isEmpty());
        QCOMPARE(counts.last(), 2);

        // Invert: with the list focused, the one selected row becomes the other one.
        view.recordingList()->setCurrentIndex(model->index(0, 0));
        view.show();
        view.recordingList()->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        view.listPane().InvertSelection();
        QCOMPARE(view.recordingList()->selectedRowNumbers(), QList<int>{1});
        QCOMPARE(panel.calls.last(), QStringLiteral("load b.mp3 2"));
        view.listPane().AutoSizeColumns();
        QVERIFY(view.recordingList()->columnWidth(0) >= view.recordingList()->fontMetrics().horizontalAdvance(QStringLiteral("a.mp3")));
        view.recordingList()->selectionModel()->clearSelection();

        // F7 with nothing selected selects row 0 again.
        view.Rebuild();
        QCOMPARE(view.recordingList()->selectedRowNumbers(), QList<int>{0});

        view.listPane().toggleDescending();
        QCOMPARE(model->recordAt(0).szFileName, QStringLiteral("b.mp3"));

        // Selecting a root empties the list.
        view.folderTree()->setCurrentItem(view.topRoot());
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(counts.last(), 0);
        QVERIFY(!panel.allowed);
    }

    // A folder whose recordings went while another node was selected: selecting it again
    // shows the message about its first row, and while the message is up the folder
    // watcher has the save folder read again, which finds the folder gone. The selection
    // that was filling the folder's list ends on the tree as it is now.
    void aFolderReadAgainWhileItsMessageIsUp()
    {
        const QString save = newFolder(QStringLiteral("save"));
        writeRecordings(save + QStringLiteral("/day"), {"a.mp3", "b.mp3"});
        writeRecordings(save + QStringLiteral("/other"), {"c.mp3"});
        CSetting setting;
        setting.m_strSavePath = save;
        ViewFixture fixture(save, setting);
        CTALVEN77PCView& view = *fixture.view;
        QTreeWidgetItem* saveRoot = view.rootLabelled(kSaveRootLabel);
        QCOMPARE(saveRoot->child(0)->text(0), QStringLiteral("day"));
        view.folderTree()->setCurrentItem(saveRoot->child(0));
        QCOMPARE(view.recordings()->rowCount(), 2);
        view.folderTree()->setCurrentItem(saveRoot);

        // Moved away in a shell.
        QVERIFY(QDir().rename(save + QStringLiteral("/day"), newFolder(QStringLiteral("elsewhere")) + QStringLiteral("/day")));
        MessageRecorder messages;
        messages.whileShown = [&view] { view.RebuildSaveFolder(); };
        view.folderTree()->setCurrentItem(saveRoot->child(0));
        QCOMPARE(messages.entries().size(), 1);
        QVERIFY(messages.entries()[0].text.startsWith(QStringLiteral("[a.mp3]は存在しません。")));
        QCOMPARE(saveRoot->childCount(), 1);
        QCOMPARE(saveRoot->child(0)->text(0), QStringLiteral("other"));
        QCOMPARE(view.folderTree()->currentItem(), saveRoot);
        QCOMPARE(view.recordings()->rowCount(), 0);
        QVERIFY(!fixture.document.pCurrent());

        // The folder that is there is shown as usual.
        messages.whileShown = {};
        view.folderTree()->setCurrentItem(saveRoot->child(0));
        QCOMPARE(view.recordings()->rowCount(), 1);
        QCOMPARE(fixture.panel.calls.last(), QStringLiteral("load c.mp3 1"));
    }

    void neighboursDropsAndEditedRows()
    {
        const QString save = newFolder(QStringLiteral("save"));
        writeRecordings(save + QStringLiteral("/one"), {"a.mp3", "b.mp3", "c.mp3"});
        QDir().mkpath(save + QStringLiteral("/two"));
        QVERIFY(!attachDrive(QStringLiteral("card"), 4, 1).isEmpty());
        ViewFixture fixture(save, m_setting);
        CTALVEN77PCDoc& document = fixture.document;
        CTALVEN77PCView& view = *fixture.view;
        FakePanel& panel = fixture.panel;
        view.resize(800, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTreeWidgetItem* one = view.rootLabelled(kSaveRootLabel)->child(0);
        QTreeWidgetItem* two = view.rootLabelled(kSaveRootLabel)->child(1);
        view.folderTree()->setCurrentItem(one);

        // Previous and next recording.
        QVERIFY(!view.SelectPrevRecording());
        QVERIFY(view.SelectNextRecording());
        QCOMPARE(panel.calls.last(), QStringLiteral("load b.mp3 2"));
        QVERIFY(view.SelectNextRecording());
        QVERIFY(!view.SelectNextRecording()); // the last row
        QVERIFY(view.SelectPrevRecording());
        QCOMPARE(panel.calls.last(), QStringLiteral("load b.mp3 2"));

        // The panel changed b's header: the row shows the shorter texts, the record keeps the header.
        tagVoiceHeader header = MakeVoiceHeader(0, QStringLiteral("メモ"));
        header.protectFlag = 1;
        view.RefreshRecordRow(save + QStringLiteral("/one/b.mp3"), 1, header);
        QCOMPARE(view.recordings()->cellText(1, view.recordings()->columnOfKey(kKeyProtect)), QStringLiteral("○"));
        QCOMPARE(document.FindCurrentRecord(QStringLiteral("b.mp3")).header.protectFlag, 1);

        // Dragged rows may be dropped on another save or registered folder only.
        const auto targetAt = [&](QTreeWidgetItem* node) {
            return view.folderTree()->dropTargetAt(view.folderTree()->visualItemRect(node).center());
        };
        QCOMPARE(targetAt(two), *document.FindSaveSubfolderId(save + QStringLiteral("/two")));
        QCOMPARE(targetAt(one), 0); // the selected folder itself
        QCOMPARE(targetAt(view.rootLabelled(kSaveRootLabel)), 0);
        QCOMPARE(targetAt(view.rootLabelled(kCardRootLabel)->child(0)), 0);
    }

    void ejectLetsGoOfTheRecordingFirst()
    {
        const QString card = attachDrive(QStringLiteral("card"), 6, 2);
        QVERIFY(!card.isEmpty());
        CTALVEN77PCDoc document;
        document.RunStartupChecks(newFolder(QStringLiteral("save")));
        CTALVEN77PCView view(document, m_setting);
        FakePanel panel;
        view.setPanel(&panel);
        view.OnInitialUpdate();
        view.folderTree()->setCurrentItem(view.rootLabelled(kCardRootLabel)->child(0));
        QVERIFY(!panel.lastLoaded().isEmpty());
        // Whether the card was still there each time the panel was told to let go.
        QList<bool> cardPresentAtUnload;
        panel.onUnload = [&] { cardPresentAtUnload.append(ListDrives().contains(card)); };
        MessageRecorder messages;
        QVERIFY(view.commands().action(Command::Eject)->isEnabled());
        view.commands().action(Command::Eject)->trigger();
        QVERIFY(!cardPresentAtUnload.isEmpty());
        QVERIFY(cardPresentAtUnload.first());
        QVERIFY(!ListDrives().contains(card));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("SDカードは安全に取り外せます。"));
    }

    void refreshRebuildsTheTreeButKeepsTheColumns()
    {
        QVERIFY(!attachDrive(QStringLiteral("usb"), 1, 1).isEmpty());
        const QString save = newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/one"));
        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        CSetting setting;
        setting.m_strSavePath = save;
        CTALVEN77PCView view(document, setting);
        FakePanel panel;
        view.setPanel(&panel);
        view.OnInitialUpdate();
        QVERIFY(panel.usb); // the recorder is attached
        view.recordingList()->setColumnWidth(1, 333);
        const int oldRecorderId = FolderTreePane::listId(view.rootLabelled(kRecorderRootLabel)->child(0));

        // The recorder leaves, a save folder comes: F5 follows both.
        QVERIFY(m_places.setDrives({}));
        QDir().mkpath(save + QStringLiteral("/two"));
        view.folderTree()->setCurrentItem(view.rootLabelled(kSaveRootLabel)->child(0));
        view.RefreshAll();
        QCOMPARE(view.folderTree()->currentItem(), view.topRoot());
        QCOMPARE(view.rootLabelled(kRecorderRootLabel)->childCount(), 0);
        QVERIFY(!document.FindList(oldRecorderId));
        QVERIFY(!panel.usb);
        QCOMPARE(view.rootLabelled(kSaveRootLabel)->childCount(), 2);
        QCOMPARE(view.recordingList()->columnWidth(1), 333);
        // Every node names a list of the document, and every list has its node.
        int nodes = 0;
        for (QTreeWidgetItemIterator it(view.folderTree()); *it; ++it) {
            if (const int id = FolderTreePane::listId(*it)) {
                QVERIFY(document.FindList(id));
                ++nodes;
            }
        }
        QCOMPARE(nodes, int(document.fileLists().size()));
    }

    void nodesComeAndGoOneAtATime()
    {
        const QString save = newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/a/inner"));
        QDir().mkpath(save + QStringLiteral("/b"));
        writeRecordings(save + QStringLiteral("/b"), {"x.mp3"});
        ViewFixture fixture(save, m_setting);
        CTALVEN77PCDoc& document = fixture.document;
        CTALVEN77PCView& view = *fixture.view;
        FolderTreePane* tree = view.folderTree();
        QTreeWidgetItem* saveRoot = view.rootLabelled(kSaveRootLabel);
        QTreeWidgetItem* a = saveRoot->child(saveRoot->child(0)->text(0) == QStringLiteral("a") ? 0 : 1);
        QTreeWidgetItem* b = saveRoot->child(saveRoot->child(0)->text(0) == QStringLiteral("a") ? 1 : 0);
        tree->setCurrentItem(b);
        QCOMPARE(view.recordings()->rowCount(), 1);
        const int innerId = FolderTreePane::listId(a->child(0));
        const int aId = FolderTreePane::listId(a);

        // A folder node goes with the nodes below it and their lists; the selection stays.
        tree->removeNode(a);
        QCOMPARE(tree->currentItem(), b);
        QCOMPARE(view.recordings()->rowCount(), 1);
        QVERIFY(!document.FindList(aId));
        QVERIFY(!document.FindList(innerId));
        QCOMPARE(tree->findNode(aId), nullptr);

        // The selected node going: the top root is selected, not a neighbour (which, under
        // the option-folder root, would start a registration).
        int asked = 0;
        view.setFolderChooser([&] {
            ++asked;
            return QString();
        });
        QVERIFY(document.RegisterOptionFolder(newFolder(QStringLiteral("opt"))));
        QTreeWidgetItem* optionRoot = view.rootLabelled(kOptionRootLabel);
        const int optId = *document.FindOptionFolderId(document.optionPaths().first());
        tree->setCurrentItem(tree->addFolderNode(optionRoot, document.optionPaths().first(), optId));
        QCOMPARE(document.pCurrent()->nId(), optId);
        tree->removeNode(optionRoot->child(0));
        QCOMPARE(tree->currentItem(), view.topRoot());
        QCOMPARE(asked, 0);
        QVERIFY(!document.pCurrent());
        QVERIFY(!document.FindList(optId));
        QCOMPARE(view.recordings()->rowCount(), 0);
        tree->setCurrentItem(b);

        // A node added under a folder carries its list's id and leaves the selection alone.
        QTreeWidgetItem* added = tree->addFolderNode(b, QStringLiteral("c"), 4242);
        QCOMPARE(added->parent(), b);
        QCOMPARE(tree->findNode(4242), added);
        QCOMPARE(tree->currentItem(), b);
    }

    void sortKeyFallsBackWhenItsColumnGoes()
    {
        CTALVEN77PCDoc document;
        CSetting setting;
        CTALVEN77PCView view(document, setting);
        view.OnInitialUpdate();
        view.listPane().setSortKey(kKeyMemo);
        setting.m_nDisplayItem[kKeyMemo] = 0;
        setting.m_nNumber = 0;
        view.BuildColumns();
        QCOMPARE(view.listPane().sortKey(), int(kKeyName));
        QCOMPARE(view.recordings()->columnCount(), 9);
        QVERIFY(view.recordingList()->verticalHeader()->isHidden());
    }

    // On a first start the tree is as wide as its labels need; a width the user gave it stays.
    void theTreeMakesRoomForItsLabelsOnAFirstStart_data()
    {
        QTest::addColumn<int>("saved");
        QTest::newRow("first start") << 0;
        QTest::newRow("a width the user gave it") << 160;
    }

    void theTreeMakesRoomForItsLabelsOnAFirstStart()
    {
        QFETCH(int, saved);
        if (saved > 0)
            OpenProgramSettings()->setValue(QStringLiteral("Window/Split"), saved);
        const QString save = newFolder(QStringLiteral("save"));
        writeRecordings(save + QStringLiteral("/20261102"), {"REC00001.MP3"});
        QVERIFY(!attachDrive(QStringLiteral("card"), 4, 2).isEmpty());
        ViewFixture fixture(save, m_setting);
        CTALVEN77PCView& view = *fixture.view;
        view.resize(1200, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        if (saved > 0) {
            QCOMPARE(view.splitPosition(), saved);
            return;
        }
        QTreeWidget* tree = view.folderTree();
        const int margin = tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tree) + 1;
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            const QTreeWidgetItem* item = *it;
            if (!tree->visualItemRect(item).isValid())
                continue;
            const int needed = tree->visualItemRect(item).left() + tree->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, tree)
                               + tree->fontMetrics().horizontalAdvance(item->text(0)) + 2 * margin;
            QVERIFY2(needed <= tree->viewport()->width(),
                     qPrintable(QStringLiteral("%1: %2 > %3").arg(item->text(0)).arg(needed).arg(tree->viewport()->width())));
        }
    }

    void splitterKeepsItsMarginsAndIsStored()
    {
        OpenProgramSettings()->setValue(QStringLiteral("Window/Split"), 600);
        CTALVEN77PCDoc document;
        {
            CTALVEN77PCView view(document, m_setting);
            view.OnInitialUpdate();
            view.resize(700, 500);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QCOMPARE(view.splitPosition(), view.splitter()->width() - 150);
            QVERIFY(!view.splitter()->childrenCollapsible());
            // Dragging closer than 150 pixels to an edge is not possible.
            dragSplitter(view.splitter(), 100);
            QVERIFY(view.folderTree()->width() >= 150);
            dragSplitter(view.splitter(), 300);
            QCOMPARE(view.splitPosition(), 300);
        }
        QCOMPARE(OpenProgramSettings()->value(QStringLiteral("Window/Split")).toInt(), 300);
    }
};

TALVEN77_REGISTER_TEST(ViewTest);
#include "ViewTest.moc"
