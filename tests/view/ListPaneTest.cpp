#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "ViewFixture.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/ProgramIdentity.h"
#include "settings/Setting.h"
#include "view/CommandSet.h"
#include "widgets/ElidedToolTips.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/RecordingListPane.h"
#include "view/TALVEN77PCView.h"

#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QSettings>
#include <QSplitter>
#include <QStyle>
#include <QTest>

namespace {

// The least width a cell of the view shows text in without cutting it: the
// text and the style's margin on both sides, and the icon before it, if any.
int neededWidth(const QAbstractItemView& view, const QString& text, bool withIcon = false)
{
    const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    const int icon = view.iconSize().isValid() ? view.iconSize().width()
                                               : view.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &view);
    return view.fontMetrics().horizontalAdvance(text) + 2 * margin + (withIcon ? icon : 0);
}

// Every cell's text and every header's fits its column; the failing one, or empty.
QString firstCutCell(const CMainList& list)
{
    const RecordingListModel* model = list.recordings();
    for (int column = 0; column < model->columnCount(); ++column) {
        const int width = list.columnWidth(column);
        for (int row = 0; row < model->rowCount(); ++row) {
            const QString text = model->cellText(row, column);
            const bool icon = column == 0 && row == model->markedRow();
            if (width < neededWidth(list, text, icon))
                return QStringLiteral("row %1 column %2: \"%3\" in %4 pixels").arg(row).arg(column).arg(text).arg(width);
        }
    }
    return {};
}

} // namespace

class ListPaneTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    // A save folder "day" holding recordings with these names and memos, shown in a view.
    struct Fixture : ViewFixture
    {
        QString folder;
        Fixture(SimulatedPlaces& places, const QStringList& names, const QStringList& memos = {})
        {
            const QString save = places.newFolder(QStringLiteral("save"));
            folder = save + QStringLiteral("/day/");
            for (int i = 0; i < names.size(); ++i) {
                const QString memo = i < memos.size() ? memos[i] : QString();
                if (!WriteFileBytes(folder + names[i], BuildRecording(MakeVoiceHeader(1, memo), ShortSpeechAudio())))
                    qFatal("cannot write a recording");
            }
            open(save);
            view->resize(900, 500);
            view->folderTree()->setCurrentItem(view->rootLabelled(kSaveRootLabel)->child(0));
        }
        RecordingListPane& pane() { return view->listPane(); }
        CMainList* list() { return view->recordingList(); }
        RecordingListModel* model() { return view->recordings(); }
        QString nameAt(int row) { return model()->recordAt(row).szFileName; }
        void clickRow(int row)
        {
            QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualRect(model()->index(row, 0)).center());
        }
        void clickHeader(int key)
        {
            QHeaderView* header = list()->horizontalHeader();
            const int column = model()->columnOfKey(key);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                                     header->height() / 2));
        }
    };

private Q_SLOTS:
    void init() { OpenProgramSettings()->clear(); }

    // No width was ever saved (a first start): each column is as wide as its texts.
    void columnsFitTheirTextsOnAFirstStart()
    {
        Fixture f(m_places, {"REC00001.MP3", "REC00002.MP3"}, {QStringLiteral("定例会議の議事録、来年度の予算"), QString()});
        f.view->resize(1400, 500);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        QCOMPARE(f.model()->markedRow(), 0);
        const QString cut = firstCutCell(*f.list());
        QVERIFY2(cut.isEmpty(), qPrintable(cut));
    }

    // The folder is opened in the shown window: the rows below the screen are
    // measured after the first paint, and a wider text among them still widens
    // its column.
    void columnsFitTextsBelowTheScreen()
    {
        QStringList names, memos;
        for (int i = 0; i < 80; ++i) {
            names.append(QStringLiteral("REC%1.MP3").arg(i, 5, 10, QLatin1Char('0')));
            memos.append(i == 70 ? QStringLiteral("定例会議の議事録、来年度の予算と採用計画の確認") : QString());
        }
        Fixture f(m_places, names, memos);
        f.view->resize(1400, 400);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        QTreeWidgetItem* folder = f.view->rootLabelled(kSaveRootLabel)->child(0);
        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kSaveRootLabel));
        f.view->folderTree()->setCurrentItem(folder);
        QCOMPARE(f.model()->rowCount(), 80);
        QVERIFY(f.list()->rowsOnScreen() < 70);
        QTRY_VERIFY2(firstCutCell(*f.list()).isEmpty(), qPrintable(firstCutCell(*f.list())));
        QCOMPARE(f.model()->markedRow(), 0);
    }

    // 列幅の自動調整 fits columns the user had narrowed, and the fitted widths are kept.
    void autoWidthFitsNarrowedColumns()
    {
        QStringList widths;
        {
            Fixture f(m_places, {"REC00001.MP3", "REC00002.MP3"}, {QStringLiteral("定例会議の議事録")});
            f.view->resize(1400, 500);
            f.view->show();
            QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
            for (int column = 0; column < f.model()->columnCount(); ++column)
                f.list()->horizontalHeader()->resizeSection(column, 12);
            QVERIFY(!firstCutCell(*f.list()).isEmpty());
            f.view->UpdateCommandStates();
            QAction* autoWidth = f.view->commands().action(Command::AutoWidth);
            QVERIFY(autoWidth->isEnabled());
            autoWidth->trigger();
            const QString cut = firstCutCell(*f.list());
            QVERIFY2(cut.isEmpty(), qPrintable(cut));
            for (int column = 0; column < f.model()->columnCount(); ++column)
                widths.append(QString::number(f.list()->columnWidth(column)));
        }
        Fixture again(m_places, {"REC00001.MP3"});
        QStringList kept;
        for (int column = 0; column < again.model()->columnCount(); ++column)
            kept.append(QString::number(again.list()->columnWidth(column)));
        QCOMPARE(kept, widths);
    }

    void loadedRowFollowsTheSort()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3", "c.mp3"});
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        QCOMPARE(f.panel.lastLoaded(), QStringLiteral("a.mp3"));

        // A click on the name header reverses the order: a, still loaded, moves to the last row.
        f.clickHeader(kKeyName);
        QCOMPARE(f.pane().descending(), true);
        QCOMPARE(f.nameAt(0), QStringLiteral("c.mp3"));
        QCOMPARE(f.pane().loadedRow(), 2);
        QHeaderView* header = f.list()->horizontalHeader();
        QCOMPARE(header->sortIndicatorSection(), f.model()->columnOfKey(kKeyName));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QVERIFY(f.view->commands().action(Command::SortDescending)->isChecked());

        // The row now at the top is another recording: clicking it loads that one.
        f.clickRow(0);
        QCOMPARE(f.panel.lastLoaded(), QStringLiteral("c.mp3"));
        QCOMPARE(f.pane().loadedRow(), 0);

        // Another column: sorted by it, ascending; the menu shows the same key.
        f.clickHeader(kKeyMemo);
        QCOMPARE(f.pane().sortKey(), int(kKeyMemo));
        QCOMPARE(f.pane().descending(), false);
        QCOMPARE(header->sortIndicatorSection(), f.model()->columnOfKey(kKeyMemo));
        QVERIFY(f.view->commands().action(SortCommand(kKeyMemo))->isChecked());
        QVERIFY(!f.view->commands().action(SortCommand(kKeyName))->isChecked());
        QCOMPARE(f.nameAt(f.pane().loadedRow()), QStringLiteral("c.mp3"));
    }

    void neighbourWhoseFileVanished_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("focused");
        QTest::addColumn<bool>("next");
        QTest::addColumn<QString>("vanished");
        QTest::newRow("next, the last row") << QStringList{"a.mp3", "b.mp3"} << 0 << true << "b.mp3";
        QTest::newRow("next, a middle row") << QStringList{"a.mp3", "b.mp3", "c.mp3"} << 0 << true << "b.mp3";
        QTest::newRow("previous, the first row") << QStringList{"a.mp3", "b.mp3"} << 1 << false << "a.mp3";
    }
    void neighbourWhoseFileVanished()
    {
        QFETCH(QStringList, names);
        QFETCH(int, focused);
        QFETCH(bool, next);
        QFETCH(QString, vanished);
        Fixture f(m_places, names);
        f.list()->setCurrentIndex(f.model()->index(focused, 0));
        QVERIFY(QFile::remove(f.folder + vanished));
        MessageRecorder messages;
        QVERIFY(!(next ? f.pane().SelectNextRecording() : f.pane().SelectPrevRecording()));
        QCOMPARE(messages.entries().size(), 1);
        QVERIFY(messages.entries()[0].text.startsWith(QStringLiteral("[%1]は存在しません。").arg(vanished)));
        QCOMPARE(f.model()->rowCount(), names.size() - 1);
        QCOMPARE(f.document.pCurrent()->GetRecordCount(), names.size() - 1);
    }

    void movingOntoAVanishedRowLetsGoOfTheLoadedOne()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"});
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        QCOMPARE(f.pane().loadedRow(), 0);
        QVERIFY(QFile::remove(f.folder + QStringLiteral("b.mp3")));
        MessageRecorder messages;
        f.list()->setFocus();
        QTest::keyClick(f.list(), Qt::Key_Down);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(f.panel.calls.last(), QStringLiteral("unload 0"));
        QCOMPARE(f.pane().loadedRow(), -1);
        QCOMPARE(f.model()->rowCount(), 1);
    }

    void neighbourThatIsThere()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3", "c.mp3"});
        QVERIFY(!f.pane().SelectPrevRecording());
        QVERIFY(f.pane().SelectNextRecording());
        QCOMPARE(f.panel.calls.last(), QStringLiteral("load b.mp3 2"));
        QVERIFY(f.pane().SelectNextRecording());
        QVERIFY(!f.pane().SelectNextRecording()); // the last row
        QVERIFY(f.pane().SelectPrevRecording());
        QCOMPARE(f.panel.calls.last(), QStringLiteral("load b.mp3 2"));
    }

    void playCommandFollowsTheSelection()
    {
        Fixture f(m_places, {"a.mp3", "b.mp3"});
        QAction* play = f.view->commands().action(Command::Play);
        QVERIFY(play->isEnabled()); // the first row is selected
        play->trigger();
        QCOMPARE(f.panel.calls.last(), QStringLiteral("play"));
        f.list()->selectAll();
        QVERIFY(!play->isEnabled()); // two rows
        f.view->setPanel(nullptr);   // a panel that cannot play
        f.list()->setCurrentIndex(f.model()->index(0, 0));
        QVERIFY(!play->isEnabled());
    }

    void wholeTextOfAnElidedCell()
    {
        const QString memo = QStringLiteral("会議の記録、来年度の予算");
        Fixture f(m_places, {"a.mp3"}, {memo});
        f.view->resize(1400, 500);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        const int memoColumn = f.model()->columnOfKey(kKeyMemo);
        f.list()->setColumnWidth(memoColumn, 40);
        QCOMPARE(ElidedToolTips::TextAt(*f.list(), f.list()->visualRect(f.model()->index(0, memoColumn)).center()), memo);
        const QModelIndex cell = f.model()->index(0, memoColumn);
        f.list()->setColumnWidth(memoColumn, f.list()->sizeHintForIndex(cell).width() + 10);
        f.list()->scrollTo(cell);
        QVERIFY(f.list()->viewport()->rect().contains(f.list()->visualRect(cell)));
        QCOMPARE(ElidedToolTips::TextAt(*f.list(), f.list()->visualRect(cell).center()), QString());

        // A folder label wider than the tree.
        f.view->splitter()->setSizes({150, 700});
        QTreeWidgetItem* node = f.view->rootLabelled(kSaveRootLabel)->child(0);
        node->setText(0, QStringLiteral("とても長い名前のフォルダ").repeated(4));
        QCOMPARE(ElidedToolTips::TextAt(*f.view->folderTree(), f.view->folderTree()->visualItemRect(node).center()),
                 node->text(0));
        QCOMPARE(ElidedToolTips::TextAt(*f.view->folderTree(), f.view->folderTree()->visualItemRect(f.view->topRoot()).center()),
                 QString());
    }
};

TALVEN77_REGISTER_TEST(ListPaneTest);
#include "ListPaneTest.moc"
