#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "ViewFixture.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "library/FolderWatcher.h"
#include "library/SearchAllDlg.h"
#include "platform/ProgramIdentity.h"
#include "settings/Setting.h"
#include "view/ArchiveLink.h"
#include "view/CommandSet.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/TALVEN77PCView.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSet>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>

namespace {

void writeRecording(const QString& path, const QString& memo)
{
    QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1, memo), ShortSpeechAudio())));
}

QStringList rowNames(const CTALVEN77PCView& view)
{
    QStringList names;
    for (int row = 0; row < view.recordings()->rowCount(); ++row)
        names.append(view.recordings()->recordAt(row).szFileName);
    names.sort();
    return names;
}

QTreeWidgetItem* childLabelled(QTreeWidgetItem* parent, const QString& label)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == label)
            return parent->child(i);
    }
    return nullptr;
}

} // namespace

class ArchiveTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;
    CSetting m_setting;

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    // The search finds memos in folders that are not shown, also in a recording another
    // program rewrote meanwhile, and a chosen result selects its folder's node and its row.
    void searchAllSelectsFolderAndRow()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/day1"));
        QDir().mkpath(save + QStringLiteral("/day2"));
        writeRecording(save + QStringLiteral("/day1/r1.mp3"), QStringLiteral("定例会議"));
        writeRecording(save + QStringLiteral("/day2/r2.mp3"), QStringLiteral("予算の相談"));
        writeRecording(save + QStringLiteral("/day2/r3.mp3"), QStringLiteral("顧客との会議メモ"));
        m_setting.m_strSavePath = save;
        ViewFixture on(save, m_setting);

        on.view->commands().action(Command::SearchAll)->trigger();
        SearchAllDlg* dialog = on.view->archive().searchDialog();
        QVERIFY(dialog && dialog->isVisible());
        dialog->memoEdit()->setText(QStringLiteral("会議"));
        QTRY_COMPARE(dialog->results()->topLevelItemCount(), 2);

        // Another program rewrites a recording while the dialog is open: the search reads
        // it again instead of leaving it out because its entry no longer holds.
        const QString first = save + QStringLiteral("/day1/r1.mp3");
        writeRecording(first, QStringLiteral("定例会議のやり直し"));
        QFile rewritten(first);
        QVERIFY(rewritten.open(QIODevice::ReadWrite));
        QVERIFY(rewritten.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        rewritten.close();
        dialog->searchNow();
        QCOMPARE(dialog->results()->topLevelItemCount(), 2);
        QStringList memos;
        for (int i = 0; i < 2; ++i)
            memos.append(dialog->results()->topLevelItem(i)->text(2));
        QVERIFY2(memos.contains(QStringLiteral("定例会議のやり直し")), qPrintable(memos.join(u',')));

        dialog->memoEdit()->setText(QStringLiteral("との会"));
        QTRY_COMPARE(dialog->results()->topLevelItemCount(), 1);
        QTreeWidgetItem* hit = dialog->results()->topLevelItem(0);
        QCOMPARE(hit->text(0), QStringLiteral("r3.mp3"));
        QCOMPARE(hit->text(3), kSaveRootLabel + QStringLiteral(" › day2"));
        QCOMPARE(hit->toolTip(3), save + QStringLiteral("/day2"));

        dialog->results()->setCurrentItem(hit);
        Q_EMIT dialog->results()->itemActivated(hit, 0);
        QCOMPARE(on.view->folderTree()->currentItem()->text(0), QStringLiteral("day2"));
        QCOMPARE(on.document.pCurrent()->strFolder(), save + QStringLiteral("/day2/"));
        const QModelIndexList selected = on.view->recordingList()->selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(on.view->recordings()->recordAt(selected[0].row()).szFilePath, save + QStringLiteral("/day2/r3.mp3"));
        dialog->close();
    }

    // A recording opened by its path (from the file manager) selects its folder's node and its
    // row, however the path is written; a path that is no recording in a shown folder is
    // refused with a message and leaves the window as it was.
    void openingARecordingByPath_data()
    {
        QTest::addColumn<QString>("written"); // relative to the save folder
        QTest::addColumn<QString>("selected"); // the row selected then, none when refused
        QTest::newRow("in a dated folder") << QStringLiteral("day2/r3.mp3") << QStringLiteral("day2/r3.mp3");
        QTest::newRow("with dots in the way") << QStringLiteral("day1/../day2/./r2.mp3") << QStringLiteral("day2/r2.mp3");
        QTest::newRow("through a link") << QStringLiteral("linked/r1.mp3") << QStringLiteral("day1/r1.mp3");
        QTest::newRow("missing") << QStringLiteral("day2/gone.mp3") << QString();
        QTest::newRow("no recording") << QStringLiteral("day2/notes.txt") << QString();
        QTest::newRow("a folder") << QStringLiteral("day2") << QString();
        QTest::newRow("outside the tree") << QStringLiteral("../elsewhere/r4.mp3") << QString();
    }
    void openingARecordingByPath()
    {
        QFETCH(QString, written);
        QFETCH(QString, selected);
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/day1"));
        QDir().mkpath(save + QStringLiteral("/day2"));
        QDir().mkpath(save + QStringLiteral("/../elsewhere"));
        writeRecording(save + QStringLiteral("/day1/r1.mp3"), QStringLiteral("一"));
        writeRecording(save + QStringLiteral("/day2/r2.mp3"), QStringLiteral("二"));
        writeRecording(save + QStringLiteral("/day2/r3.mp3"), QStringLiteral("三"));
        writeRecording(save + QStringLiteral("/../elsewhere/r4.mp3"), QStringLiteral("四"));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/day2/notes.txt"), "memo"));
        m_setting.m_strSavePath = save;
        ViewFixture on(save, m_setting);
        // The link is made after the tree is read: it is no folder the tree shows.
        QVERIFY(QFile::link(save + QStringLiteral("/day1"), save + QStringLiteral("/linked")));
        QTreeWidgetItem* shownBefore = on.view->folderTree()->currentItem();
        const QString folderBefore = on.document.pCurrent() ? on.document.pCurrent()->strFolder() : QString();

        MessageRecorder messages;
        const bool opened = on.view->archive().OpenRecordingFile(save + u'/' + written);
        QCOMPARE(opened, !selected.isEmpty());
        if (selected.isEmpty()) {
            QCOMPARE(messages.entries().size(), 1);
            QCOMPARE(messages.entries()[0].text,
                     QStringLiteral("[%1]は表示中のフォルダにある録音ではありません。").arg(save + u'/' + written));
            QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);
            QCOMPARE(on.view->folderTree()->currentItem(), shownBefore);
            QCOMPARE(on.document.pCurrent() ? on.document.pCurrent()->strFolder() : QString(), folderBefore);
            return;
        }
        QVERIFY(messages.entries().isEmpty());
        const QString folder = QFileInfo(save + u'/' + selected).path();
        QCOMPARE(on.document.pCurrent()->strFolder(), folder + u'/');
        QCOMPARE(on.view->folderTree()->currentItem()->text(0), QFileInfo(folder).fileName());
        const QModelIndexList rows = on.view->recordingList()->selectionModel()->selectedRows();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(on.view->recordings()->recordAt(rows[0].row()).szFilePath, save + u'/' + selected);
    }

    // One recording on the recorder, on its card and in the save folder: each
    // result says where it lies by the tree's names, and the three stay apart
    // at the width the dialog gives them, however that column cuts its texts.
    void searchResultsTellTheirPlacesApart()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = m_places.newFolder(QStringLiteral("card"));
        const QString recorder = m_places.newFolder(QStringLiteral("recorder"));
        QVERIFY(MakeCard({card, 7, 1, 5, {}}));
        QVERIFY(MakeCard({recorder, 7, 1, 5, {}}));
        const QString dated = QStringLiteral("007_TALVEN-77/202611/02");
        QVERIFY(QDir(card + u'/' + dated).exists());
        QVERIFY(QDir().mkpath(save + QStringLiteral("/20261102")));
        QVERIFY(QFile::copy(card + u'/' + dated + QStringLiteral("/REC00001.MP3"),
                            save + QStringLiteral("/20261102/REC00001.MP3")));
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card, QStringLiteral("usb ") + recorder}));
        m_setting.m_strSavePath = save;
        ViewFixture on(save, m_setting);
        const QString cardNode = on.view->rootLabelled(kCardRootLabel)->child(0)->text(0);
        const QString recorderNode = on.view->rootLabelled(kRecorderRootLabel)->child(0)->text(0);

        on.view->commands().action(Command::SearchAll)->trigger();
        SearchAllDlg* dialog = on.view->archive().searchDialog();
        QVERIFY(dialog && dialog->isVisible());
        dialog->nameEdit()->setText(QStringLiteral("REC00001"));
        dialog->searchNow();
        QTreeWidget* results = dialog->results();
        QCOMPARE(results->topLevelItemCount(), 3);
        const QString sep = QStringLiteral(" › ");
        QMap<QString, QString> whereToFolder;
        for (int row = 0; row < 3; ++row)
            whereToFolder.insert(results->topLevelItem(row)->text(3), results->topLevelItem(row)->toolTip(3));
        const QMap<QString, QString> expected{
            {kSaveRootLabel + sep + QStringLiteral("20261102"), save + QStringLiteral("/20261102")},
            {kCardRootLabel + sep + cardNode + sep + QStringLiteral("202611/02"), card + u'/' + dated},
            {kRecorderRootLabel + sep + recorderNode + sep + QStringLiteral("202611/02"), recorder + u'/' + dated},
        };
        QCOMPARE(whereToFolder, expected);

        const int margin = results->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, results) + 1;
        const int room = results->columnWidth(3) - 2 * margin;
        for (const Qt::TextElideMode mode : {Qt::ElideLeft, Qt::ElideMiddle, Qt::ElideRight}) {
            QSet<QString> shown;
            for (int row = 0; row < 3; ++row)
                shown.insert(results->fontMetrics().elidedText(results->topLevelItem(row)->text(3), mode, room));
            QVERIFY2(shown.size() == 3, qPrintable(QStringList(shown.values()).join(u'|')));
        }
        // The name and start columns show their texts whole.
        for (int column : {0, 1}) {
            const QString text = results->topLevelItem(0)->text(column);
            QVERIFY(results->columnWidth(column) >= results->fontMetrics().horizontalAdvance(text) + 2 * margin);
        }
        dialog->close();
    }

    // Another program adds, renames and removes recordings in the folder shown,
    // and adds a folder to the save folder: the window follows without F5.
    void watchedFoldersFollowOtherPrograms()
    {
        const QString save = m_places.newFolder(QStringLiteral("watched"));
        const QString day = save + QStringLiteral("/day");
        QDir().mkpath(day);
        writeRecording(day + QStringLiteral("/a.mp3"), QStringLiteral("一"));
        writeRecording(day + QStringLiteral("/b.mp3"), QStringLiteral("二"));
        m_setting.m_strSavePath = save;
        ViewFixture on(save, m_setting);
        QTreeWidgetItem* saveRoot = on.view->rootLabelled(kSaveRootLabel);
        on.view->folderTree()->setCurrentItem(childLabelled(saveRoot, QStringLiteral("day")));
        QCOMPARE(rowNames(*on.view), (QStringList{"a.mp3", "b.mp3"}));
        QTRY_VERIFY(on.view->archive().watcher().folders().contains(day));

        writeRecording(day + QStringLiteral("/c.mp3"), QStringLiteral("三"));
        QTRY_COMPARE(rowNames(*on.view), (QStringList{"a.mp3", "b.mp3", "c.mp3"}));
        QVERIFY(QFile::rename(day + QStringLiteral("/a.mp3"), day + QStringLiteral("/z.mp3")));
        QTRY_COMPARE(rowNames(*on.view), (QStringList{"b.mp3", "c.mp3", "z.mp3"}));
        QVERIFY(QFile::remove(day + QStringLiteral("/b.mp3")));
        QTRY_COMPARE(rowNames(*on.view), (QStringList{"c.mp3", "z.mp3"}));

        QDir().mkpath(save + QStringLiteral("/newday"));
        QTRY_VERIFY(childLabelled(saveRoot, QStringLiteral("newday")) != nullptr);
        // The folder shown before is shown again, with what it holds now.
        QCOMPARE(on.view->folderTree()->currentItem()->text(0), QStringLiteral("day"));
        QCOMPARE(rowNames(*on.view), (QStringList{"c.mp3", "z.mp3"}));
    }

    // The card's list takes in its dated folders: a recording another program puts
    // into one of them, or into a dated folder made afterwards, appears without F5.
    void aCardsDatedFoldersAreWatched()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        const QString card = m_places.newFolder(QStringLiteral("card"));
        QVERIFY(MakeCard({card, 7, 2, 7, {}}));
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + card}));
        m_setting.m_strSavePath = save;
        ViewFixture on(save, m_setting);
        QTreeWidgetItem* cardNode = on.view->rootLabelled(kCardRootLabel)->child(0);
        on.view->folderTree()->setCurrentItem(cardNode);
        QCOMPARE(on.view->recordings()->rowCount(), 2);
        const QString recorderFolder = card + QStringLiteral("/007_TALVEN-77");
        QStringList dated;
        for (const QString& month : QDir(recorderFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            for (const QString& day : QDir(recorderFolder + u'/' + month).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                dated.append(recorderFolder + u'/' + month + u'/' + day);
        }
        QVERIFY(!dated.isEmpty());
        QTRY_VERIFY(on.view->archive().watcher().folders().contains(dated.first()));

        writeRecording(dated.first() + QStringLiteral("/added.mp3"), QStringLiteral("追加"));
        QTRY_COMPARE(on.view->recordings()->rowCount(), 3);
        const QString newDay = recorderFolder + QStringLiteral("/209912/31");
        QVERIFY(QDir().mkpath(newDay));
        QTRY_VERIFY(on.view->archive().watcher().folders().contains(newDay));
        writeRecording(newDay + QStringLiteral("/later.mp3"), QStringLiteral("後日"));
        QTRY_COMPARE(on.view->recordings()->rowCount(), 4);
        QVERIFY(rowNames(*on.view).contains(QStringLiteral("later.mp3")));
    }

    // Filling the list again would unload the recording being listened to: a change
    // seen meanwhile waits until the user stops.
    void aChangeWaitsWhileARecordingIsListenedTo()
    {
        const QString save = m_places.newFolder(QStringLiteral("listening"));
        const QString day = save + QStringLiteral("/day");
        QDir().mkpath(day);
        writeRecording(day + QStringLiteral("/a.mp3"), QStringLiteral("一"));
        m_setting.m_strSavePath = save;
        ViewFixture on(save, m_setting);
        on.view->folderTree()->setCurrentItem(childLabelled(on.view->rootLabelled(kSaveRootLabel), QStringLiteral("day")));
        QTRY_VERIFY(on.view->archive().watcher().folders().contains(day));
        on.panel.listening = true;
        on.panel.calls.clear();

        writeRecording(day + QStringLiteral("/b.mp3"), QStringLiteral("二"));
        QDir().mkpath(save + QStringLiteral("/newday"));
        QTest::qWait(1500);
        QCOMPARE(rowNames(*on.view), QStringList{"a.mp3"});
        QVERIFY2(!on.panel.calls.join(u' ').contains(QStringLiteral("unload")), qPrintable(on.panel.calls.join(u',')));

        on.panel.listening = false;
        QTRY_COMPARE(rowNames(*on.view), (QStringList{"a.mp3", "b.mp3"}));
        QTRY_VERIFY(childLabelled(on.view->rootLabelled(kSaveRootLabel), QStringLiteral("newday")) != nullptr);
    }
};

TALVEN77_REGISTER_TEST(ArchiveTest);

#include "ArchiveTest.moc"
