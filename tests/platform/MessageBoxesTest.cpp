#include "MessageRecorder.h"
#include "TestRegistry.h"
#include "platform/WidgetMessagePresenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class MessageBoxesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recorderKeepsMessagesAndAnswersFromItsScript()
    {
        MessageRecorder recorder;
        recorder.scriptAnswers({MessageAnswer::Yes, MessageAnswer::Ok});
        ShowMessage(QStringLiteral("情報"), MessageIcon::Information);
        QVERIFY(AskYesNo(QStringLiteral("削除しますか？")));
        QVERIFY(AskOkCancel(QStringLiteral("続行しますか？"), MessageIcon::Warning));
        QVERIFY(!AskYesNo(QStringLiteral("script exhausted: No")));
        QVERIFY(!AskOkCancel(QStringLiteral("script exhausted: Cancel")));

        QCOMPARE(recorder.entries().size(), 5);
        QCOMPARE(recorder.entries()[0].text, QStringLiteral("情報"));
        QCOMPARE(recorder.entries()[0].icon, MessageIcon::Information);
        QCOMPARE(recorder.entries()[0].buttons, MessageButtons::Ok);
        QCOMPARE(recorder.entries()[1].icon, MessageIcon::Question);
        QCOMPARE(recorder.entries()[1].buttons, MessageButtons::YesNo);
        QCOMPARE(recorder.entries()[2].icon, MessageIcon::Warning);
        QCOMPARE(recorder.entries()[2].buttons, MessageButtons::OkCancel);
    }

    void widgetBoxIsCaptionedWithTheTitle_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("qtIcon");
        QTest::addColumn<bool>("question");
        QTest::newRow("information") << int(MessageIcon::Information) << int(QMessageBox::Information) << false;
        QTest::newRow("warning") << int(MessageIcon::Warning) << int(QMessageBox::Warning) << false;
        QTest::newRow("error") << int(MessageIcon::Error) << int(QMessageBox::Critical) << false;
        QTest::newRow("question") << int(MessageIcon::Question) << int(QMessageBox::Question) << true;
    }
    void widgetBoxIsCaptionedWithTheTitle()
    {
        QFETCH(int, icon);
        QFETCH(int, qtIcon);
        QFETCH(bool, question);
        WidgetMessagePresenter presenter;
        SetMessagePresenter(&presenter);
        QString caption, text;
        int shownIcon = -1;
        bool hadYesAndNo = false;
        // The box is modal: look at it and answer Yes (or OK) once it shows.
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            caption = box->windowTitle();
            text = box->text();
            shownIcon = box->icon();
            hadYesAndNo = box->button(QMessageBox::Yes) && box->button(QMessageBox::No);
            box->button(question ? QMessageBox::Yes : QMessageBox::Ok)->click();
        });
        bool answer = true;
        if (question)
            answer = AskYesNo(QStringLiteral("よろしいですか？"));
        else
            ShowMessage(QStringLiteral("メッセージ"), MessageIcon(icon));
        SetMessagePresenter(nullptr);
        QCOMPARE(caption, QStringLiteral("TALVEN-77-PC Player"));
        QCOMPARE(shownIcon, qtIcon);
        QCOMPARE(hadYesAndNo, question);
        QVERIFY(answer);
        QCOMPARE(text, question ? QStringLiteral("よろしいですか？") : QStringLiteral("メッセージ"));
    }
};

TALVEN77_REGISTER_TEST(MessageBoxesTest);
#include "MessageBoxesTest.moc"
