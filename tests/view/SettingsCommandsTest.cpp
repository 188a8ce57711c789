#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "ViewFixture.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/ProgramIdentity.h"
#include "widgets/EditEx.h"
#include "settings/DeviceEditDlg.h"
#include "settings/DeviceNameDlg.h"
#include "settings/Setting.h"
#include "settings/SettingDlg.h"
#include "view/CommandSet.h"
#include "view/MainList.h"
#include "recording/RecordingColumns.h"
#include "view/RecordingListModel.h"
#include "view/RecordingListPane.h"
#include "view/TALVEN77PCView.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>

// The settings and recorder-name commands of the view, with their dialogs
// answered by the tests.
class SettingsCommandsTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    struct Fixture : ViewFixture
    {
        QStringList statusTexts;
        explicit Fixture(const QString& save)
        {
            setting.Load();
            setting.m_strSavePath = save;
            open(save);
            QObject::connect(view.get(), &CTALVEN77PCView::statusText, view.get(),
                             [this](const QString& text) { statusTexts.append(text); });
        }
        QStringList rowNames() const
        {
            QStringList names;
            for (int row = 0; row < view->recordings()->rowCount(); ++row)
                names.append(view->recordings()->recordAt(row).szFileName);
            return names;
        }
        QStringList saveNodes() const
        {
            QStringList labels;
            const QTreeWidgetItem* root = view->rootLabelled(kSaveRootLabel);
            for (int i = 0; i < root->childCount(); ++i)
                labels.append(root->child(i)->text(0));
            return labels;
        }
    };

    static void writeRecording(const QString& path, const QString& memo)
    {
        QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1, memo), ShortSpeechAudio())));
    }

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void bothCommandsAreLive()
    {
        Fixture f(m_places.newFolder(QStringLiteral("save")));
        for (const Command command : {Command::Settings, Command::DeviceNames}) {
            QAction* action = f.view->commands().action(command);
            QVERIFY(action->isEnabled());
            QVERIFY(!action->statusTip().isEmpty());
        }
        int runs = 0;
        f.view->setSettingsDialogRunner([&](CSettingDlg&) { return ++runs, int(QDialog::Rejected); });
        f.view->setDeviceNameDialogRunner([&](CDeviceNameDlg&) { return ++runs, int(QDialog::Rejected); });
        f.view->commands().action(Command::Settings)->trigger();
        f.view->commands().action(Command::DeviceNames)->trigger();
        QCOMPARE(runs, 2);
    }

    void hidingTheSortedColumnSortsByName()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day")));
        writeRecording(save + QStringLiteral("/day/a.mp3"), QStringLiteral("z"));
        writeRecording(save + QStringLiteral("/day/b.mp3"), QStringLiteral("x"));
        writeRecording(save + QStringLiteral("/day/c.mp3"), QStringLiteral("y"));
        Fixture f(save);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel)->child(0));
        f.view->listPane().setSortKey(kKeyMemo);
        QCOMPARE(f.rowNames(), (QStringList{"b.mp3", "c.mp3", "a.mp3"}));
        f.view->recordingList()->clearSelection();

        f.view->setSettingsDialogRunner([](CSettingDlg& dialog) {
            dialog.checkBox(CSettingDlg::IdFirstDisplayItem + int(kKeyMemo))->click();
            dialog.button(CSettingDlg::IdOk)->click();
            return dialog.result();
        });
        f.view->OnSettings();
        QCOMPARE(f.setting.m_nDisplayItem[kKeyMemo], 0);
        QCOMPARE(f.view->listPane().sortKey(), int(kKeyName));
        QCOMPARE(f.view->recordings()->columnOfKey(kKeyMemo), -1);
        QCOMPARE(f.rowNames(), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
        QCOMPARE(f.view->listPane().selectedCount(), 1); // the first row, as none was selected
        QCOMPARE(f.view->recordingList()->currentIndex().row(), 0);
        QVERIFY(!f.view->commands().action(Command::SortByMemo)->isEnabled());
        CSetting stored;
        stored.Load();
        QCOMPARE(stored.m_nDisplayItem[kKeyMemo], 0);
    }

    // The width the user gives a column stays with its key: through settings
    // that hide and show columns, and across a restart. A column never resized
    // keeps the width of its header text.
    void columnWidthsAreKeptByKey()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        auto f = std::make_unique<Fixture>(save);
        const auto widthOf = [&](int key) {
            const int column = f->view->recordings()->columnOfKey(key);
            return column < 0 ? -1 : f->view->recordingList()->columnWidth(column);
        };
        const auto resize = [&](int key, int width) {
            f->view->recordingList()->horizontalHeader()->resizeSection(f->view->recordings()->columnOfKey(key), width);
        };
        const auto toggleColumn = [&](int key) {
            f->view->setSettingsDialogRunner([key](CSettingDlg& dialog) {
                dialog.checkBox(CSettingDlg::IdFirstDisplayItem + key)->click();
                dialog.button(CSettingDlg::IdOk)->click();
                return dialog.result();
            });
            f->view->OnSettings();
        };
        const int modeWidth = widthOf(kKeyMode);
        const int nameWidth = widthOf(kKeyName);
        const int durationWidth = widthOf(kKeyDuration);
        resize(kKeySize, 97);
        resize(kKeyMemo, 211);

        toggleColumn(kKeyDuration); // hidden: the columns after it move left
        QCOMPARE(widthOf(kKeyDuration), -1);
        QCOMPARE(widthOf(kKeySize), 97);
        QCOMPARE(widthOf(kKeyMemo), 211);
        toggleColumn(kKeyMemo);
        toggleColumn(kKeyMemo); // shown again
        QCOMPARE(widthOf(kKeyMemo), 211);
        QCOMPARE(widthOf(kKeyMode), modeWidth);

        f.reset();
        f = std::make_unique<Fixture>(save);
        QCOMPARE(widthOf(kKeySize), 97);
        QCOMPARE(widthOf(kKeyMemo), 211);
        QCOMPARE(widthOf(kKeyName), nameWidth);
        QCOMPARE(widthOf(kKeyDuration), -1);
        toggleColumn(kKeyDuration); // shown again, never resized: the width of its header text
        QCOMPARE(widthOf(kKeyDuration), durationWidth);
    }

    void anotherSaveFolderWhileASaveSubfolderIsSelected()
    {
        const QString oldSave = m_places.newFolder(QStringLiteral("old"));
        QVERIFY(QDir().mkpath(oldSave + QStringLiteral("/day")));
        writeRecording(oldSave + QStringLiteral("/day/a.mp3"), {});
        const QString newSave = m_places.newFolder(QStringLiteral("new"));
        QVERIFY(QDir().mkpath(newSave + QStringLiteral("/one")));
        QVERIFY(QDir().mkpath(newSave + QStringLiteral("/two")));
        Fixture f(oldSave);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel)->child(0));
        QCOMPARE(f.rowNames(), QStringList{"a.mp3"});
        f.panel.calls.clear();
        f.statusTexts.clear();
        // The selection goes to the save root before the old folders' nodes go.
        QStringList selected;
        connect(f.view->folderTree(), &QTreeWidget::currentItemChanged, this,
                [&](QTreeWidgetItem* current) { selected.append(current ? current->text(0) : QString()); });

        f.view->setSettingsDialogRunner([&](CSettingDlg& dialog) {
            dialog.setFolderChooser([&](QWidget*, const QString&) { return newSave; });
            dialog.button(CSettingDlg::IdBrowse)->click();
            dialog.button(CSettingDlg::IdOk)->click();
            return dialog.result();
        });
        f.view->OnSettings();
        QCOMPARE(f.setting.m_strSavePath, newSave);
        QCOMPARE(selected, QStringList{kSaveRootLabel});
        QVERIFY(f.panel.calls.contains(QStringLiteral("unload 0")));
        QCOMPARE(f.saveNodes(), (QStringList{"one", "two"}));
        QVERIFY(f.rowNames().isEmpty());
        QVERIFY(!f.document.pCurrent());
        QVERIFY(f.statusTexts.contains(QStringLiteral("保存用フォルダ解析中.....")));
        QCOMPARE(f.statusTexts.last(), QStringLiteral("レディ"));
        // The new folders' lists are the document's, found through their nodes.
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel)->child(1));
        QCOMPARE(f.document.pCurrent()->strFolder(), QDir::toNativeSeparators(newSave + QStringLiteral("/two/")));
    }

    void theSameSaveFolderKeepsTheSelection()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day")));
        writeRecording(save + QStringLiteral("/day/a.mp3"), {});
        Fixture f(save);
        QTreeWidgetItem* day = f.view->rootLabelled(kSaveRootLabel)->child(0);
        f.view->folderTree()->setCurrentItem(day);
        f.view->setSettingsDialogRunner([](CSettingDlg& dialog) {
            dialog.button(CSettingDlg::IdOk)->click();
            return dialog.result();
        });
        f.view->OnSettings();
        QCOMPARE(f.view->folderTree()->currentItem(), day);
        QCOMPARE(f.rowNames(), QStringList{"a.mp3"});
        QVERIFY(!f.statusTexts.contains(QStringLiteral("保存用フォルダ解析中.....")));
    }

    void newRecorderNameShowsInTheTree()
    {
        const QString card = m_places.newFolder(QStringLiteral("card"));
        QVERIFY(MakeCard({card, 7, 1, 7, {}}));
        const QString recorder = m_places.newFolder(QStringLiteral("recorder"));
        QVERIFY(MakeCard({recorder, 7, 1, 8, {}}));
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card, QStringLiteral("usb ") + recorder}));
        Fixture f(m_places.newFolder(QStringLiteral("save")));
        QTreeWidgetItem* cardNode = f.view->rootLabelled(kCardRootLabel)->child(0);
        QTreeWidgetItem* recorderNode = f.view->rootLabelled(kRecorderRootLabel)->child(0);
        QVERIFY(cardNode->text(0).startsWith(QStringLiteral("(007)")));

        const auto addName = [&](int answer) {
            f.view->setDeviceNameDialogRunner([answer](CDeviceNameDlg& dialog) {
                dialog.setEditDialogRunner([](CDeviceEditDlg& edit) {
                    edit.numberField()->setText(QStringLiteral("7"));
                    edit.nameField()->setText(QStringLiteral("会議用"));
                    edit.accept();
                    return edit.result();
                });
                dialog.OnAdd();
                if (answer == QDialog::Accepted)
                    dialog.accept();
                else
                    dialog.reject();
                return dialog.result();
            });
            f.view->OnDeviceNames();
        };
        addName(QDialog::Rejected);
        QVERIFY(cardNode->text(0).startsWith(QStringLiteral("(007)")));
        addName(QDialog::Accepted);
        QVERIFY2(cardNode->text(0).startsWith(QStringLiteral("(会議用)")), qPrintable(cardNode->text(0)));
        QVERIFY2(recorderNode->text(0).startsWith(QStringLiteral("(会議用)")), qPrintable(recorderNode->text(0)));
    }
};

TALVEN77_REGISTER_TEST(SettingsCommandsTest);

#include "SettingsCommandsTest.moc"
