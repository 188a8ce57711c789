#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "settings/Setting.h"
#include "view/FindDlg.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/TALVEN77PCView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

class FindTest : public QObject
{
    Q_OBJECT

    // Ten recordings r01..r10, made once; rows 1 and 7 (0 and 6) hold "abc", row 5 the memo "会議".
    SimulatedPlaces m_places;
    QString m_save;
    // Each test gets settings, a document and a view of its own: no search text,
    // history or column set carries over from one test to the next.
    std::unique_ptr<CSetting> m_setting;
    std::unique_ptr<CTALVEN77PCDoc> m_document;
    std::unique_ptr<CTALVEN77PCView> m_view;
    int m_dialogRuns = 0;

    // The user types the text, sets the options and presses a button.
    void answerDialog(const QString& text, int result, bool memo = false, bool exact = false)
    {
        m_view->setFindDialogRunner([=, this](CFindDlg& dialog) {
            ++m_dialogRuns;
            dialog.textBox()->setEditText(text);
            (memo ? dialog.memoButton() : dialog.fileNameButton())->setChecked(true);
            dialog.exactBox()->setChecked(exact);
            (result == CFindDlg::Next ? dialog.nextButton() : dialog.previousButton())->click();
            return dialog.result();
        });
    }
    // A search by file name for text, run from the dialog with the focus on row 0.
    void searchOnce(const QString& text)
    {
        answerDialog(text, CFindDlg::Next);
        focusRow(0);
        m_view->OnFind();
    }
    void focusRow(int row)
    {
        m_view->recordingList()->setCurrentIndex(m_view->recordings()->index(row, 0));
    }
    int focusedRow() const { return m_view->recordingList()->currentIndex().row(); }
    static int entriesIgnoringCase(const QStringList& history, const QString& text)
    {
        return int(history.filter(QRegularExpression(QStringLiteral("^%1$").arg(QRegularExpression::escape(text)),
                                                     QRegularExpression::CaseInsensitiveOption))
                       .size());
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_save = m_places.newFolder(QStringLiteral("save"));
        for (int i = 1; i <= 10; ++i) {
            const QString name = (i == 1 || i == 7) ? QStringLiteral("r%1xabcx.mp3").arg(i, 2, 10, QLatin1Char('0'))
                                                    : QStringLiteral("r%1.mp3").arg(i, 2, 10, QLatin1Char('0'));
            QVERIFY(WriteFileBytes(m_save + QStringLiteral("/day/") + name,
                                   BuildRecording(MakeVoiceHeader(0, i == 5 ? QStringLiteral("会議") : QString()), ShortSpeechAudio())));
        }
    }

    void init()
    {
        m_setting = std::make_unique<CSetting>();
        m_document = std::make_unique<CTALVEN77PCDoc>();
        m_document->RunStartupChecks(m_save);
        m_view = std::make_unique<CTALVEN77PCView>(*m_document, *m_setting);
        m_view->OnInitialUpdate();
        m_view->folderTree()->setCurrentItem(m_view->rootLabelled(kSaveRootLabel)->child(0));
        QCOMPARE(m_view->recordings()->rowCount(), 10);
        m_dialogRuns = 0;
    }

    void cleanup()
    {
        m_view.reset();
        m_document.reset();
        m_setting.reset();
    }

    void firstSearchOpensTheDialog()
    {
        answerDialog(QStringLiteral("abc"), CFindDlg::Next);
        focusRow(2);
        m_view->FindNext(); // nothing searched yet: the dialog comes first
        QCOMPARE(m_dialogRuns, 1);
        QCOMPARE(focusedRow(), 6);
    }

    void nextAndPreviousFromRowThree()
    {
        searchOnce(QStringLiteral("abc"));
        MessageRecorder messages;
        focusRow(2);
        m_view->FindNext();
        QCOMPARE(focusedRow(), 6);
        QCOMPARE(m_view->recordingList()->selectedRowNumbers(), QList<int>{6});
        focusRow(2);
        m_view->FindPrevious();
        QCOMPARE(focusedRow(), 0);
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(m_dialogRuns, 1); // F3 and Shift+F3 search again without the dialog
    }

    void noWrapAround()
    {
        searchOnce(QStringLiteral("abc"));
        MessageRecorder messages;
        focusRow(9);
        m_view->FindNext();
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("見つかりませんでした。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Information);
        QCOMPARE(focusedRow(), 9); // the focused row is selected again
        QCOMPARE(m_view->recordingList()->selectedRowNumbers(), QList<int>{9});
        focusRow(0);
        m_view->FindPrevious();
        QCOMPARE(messages.entries().size(), 2);
        QCOMPARE(focusedRow(), 0);
    }

    void matchRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("memo");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<int>("found"); // -1: not found
        QTest::newRow("contained") << "abc" << false << false << 6;
        QTest::newRow("exact needs the whole name") << "abc" << false << true << -1;
        QTest::newRow("exact whole name") << "r07xabcx.mp3" << false << true << 6;
        QTest::newRow("case matters") << "ABC" << false << false << -1;
        QTest::newRow("memo") << "会議" << true << false << 4;
        QTest::newRow("file name search ignores the memo") << "会議" << false << false << -1;
    }
    void matchRules()
    {
        QFETCH(QString, text);
        QFETCH(bool, memo);
        QFETCH(bool, exact);
        QFETCH(int, found);
        MessageRecorder messages;
        answerDialog(text, CFindDlg::Next, memo, exact);
        focusRow(1);
        m_view->OnFind();
        QCOMPARE(focusedRow(), found >= 0 ? found : 1);
        QCOMPARE(messages.entries().size(), found >= 0 ? 0 : 1);
    }

    void hiddenMemoIsNeverFound()
    {
        MessageRecorder messages;
        m_setting->m_nDisplayItem[kKeyMemo] = 0;
        m_view->BuildColumns();
        answerDialog(QStringLiteral("会議"), CFindDlg::Next, true);
        focusRow(0);
        m_view->OnFind();
        QCOMPARE(messages.entries().size(), 1);
    }

    void historyIsSortedAndUniqueIgnoringCase()
    {
        CFindDlg& dialog = m_view->findDialog();
        searchOnce(QStringLiteral("abc"));
        answerDialog(QStringLiteral("Abc"), CFindDlg::Next);
        m_view->OnFind();
        QCOMPARE(entriesIgnoringCase(dialog.history(), QStringLiteral("abc")), 1);
        answerDialog(QStringLiteral("Zeta"), CFindDlg::Previous);
        m_view->OnFind();
        answerDialog(QStringLiteral("beta"), CFindDlg::Next);
        m_view->OnFind();
        QCOMPARE(dialog.history(), (QStringList{"abc", "beta", "Zeta"}));
        // The dialog opened again offers them all, the last text selected, the buttons enabled.
        dialog.prepare(QStringLiteral("beta"), 0, false);
        QCOMPARE(dialog.textBox()->count(), int(dialog.history().size()));
        QVERIFY(dialog.nextButton()->isEnabled());
        dialog.textBox()->setEditText(QString());
        QVERIFY(!dialog.nextButton()->isEnabled());
        QVERIFY(!dialog.previousButton()->isEnabled());
    }

    // A text that differs from a history entry only in case is searched as
    // typed, however the search is started.
    void typedTextIsSearchedAsTyped_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<bool>("enterKey"); // Enter presses the default button "次を検索"
        QTest::newRow("次を検索 clicked") << int(CFindDlg::Next) << false;
        QTest::newRow("前を検索 clicked") << int(CFindDlg::Previous) << false;
        QTest::newRow("Enter") << int(CFindDlg::Next) << true;
    }
    void typedTextIsSearchedAsTyped()
    {
        QFETCH(int, result);
        QFETCH(bool, enterKey);
        searchOnce(QStringLiteral("abc"));
        CFindDlg& dialog = m_view->findDialog();
        bool typedIntoTheField = false;
        m_view->setFindDialogRunner([&](CFindDlg& shown) {
            shown.show();
            shown.activateWindow();
            QLineEdit* field = shown.textBox()->lineEdit();
            typedIntoTheField = QTest::qWaitForWindowActive(&shown) && field->hasFocus();
            QTest::keyClicks(field, QStringLiteral("ABC")); // replaces "abc", selected on opening
            if (enterKey)
                QTest::keyClick(field, Qt::Key_Return);
            else
                QTest::mouseClick(result == CFindDlg::Next ? shown.nextButton() : shown.previousButton(), Qt::LeftButton);
            return shown.result();
        });
        MessageRecorder messages;
        focusRow(3);
        m_view->OnFind();
        QVERIFY(typedIntoTheField);
        QCOMPARE(dialog.text(), QStringLiteral("ABC"));
        QCOMPARE(dialog.history(), QStringList{"abc"});
        // Case matters: rows 1 and 7 hold "abc", nothing holds "ABC".
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(focusedRow(), 3);
    }
};

TALVEN77_REGISTER_TEST(FindTest);
#include "FindTest.moc"
