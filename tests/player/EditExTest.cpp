#include "TestRegistry.h"
#include "player/EditEx.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

class EditExTest : public QObject
{
    Q_OBJECT

    struct Dialog
    {
        QWidget window;
        CEditEx* memo = new CEditEx(1001);
        QLineEdit* other = new QLineEdit;
        Dialog()
        {
            auto* layout = new QVBoxLayout(&window);
            layout->addWidget(memo);
            layout->addWidget(other);
            window.show();
            QApplication::setActiveWindow(&window);
        }
    };

private Q_SLOTS:
    void focusLossCommitsOnlyAfterAChange()
    {
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        QSignalSpy commits(dialog.memo, &CEditEx::commit);
        dialog.memo->setText(QStringLiteral("前のメモ"));
        dialog.memo->setFocus();
        dialog.other->setFocus(); // tabbing out unmodified
        QCOMPARE(commits.size(), 0);

        dialog.memo->setFocus();
        QTest::keyClicks(dialog.memo, "abc");
        dialog.other->setFocus();
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits[0][0].toInt(), 1001);
        QCOMPARE(commits[0][1].toBool(), true);
        // The modified mark stays: every later focus loss commits again.
        dialog.memo->setFocus();
        dialog.other->setFocus();
        QCOMPARE(commits.size(), 2);
    }

    void enterCommitsThenBreaksTheLine()
    {
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        dialog.memo->setFocus();
        QString textAtCommit;
        QSignalSpy commits(dialog.memo, &CEditEx::commit);
        connect(dialog.memo, &CEditEx::commit, this, [&] { textAtCommit = dialog.memo->text(); });
        QTest::keyClicks(dialog.memo, "line one");
        QTest::keyClick(dialog.memo, Qt::Key_Return);
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits[0][1].toBool(), false);
        QCOMPARE(textAtCommit, QStringLiteral("line one")); // reported before the key is processed
        QCOMPARE(dialog.memo->text(), QStringLiteral("line one\n"));
    }

    void changesAreReportedOnlyWhileVisible()
    {
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        QSignalSpy changes(dialog.memo, &CEditEx::changed);
        QSignalSpy commits(dialog.memo, &CEditEx::commit);
        dialog.memo->setText(QStringLiteral("set by the program"));
        QCOMPARE(changes.size(), 0);
        dialog.memo->setFocus();
        QTest::keyClicks(dialog.memo, "xy");
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes[0][0].toInt(), 1001);

        dialog.memo->hide();
        dialog.memo->insertPlainText(QStringLiteral("hidden"));
        QCOMPARE(changes.size(), 2);
        QCOMPARE(commits.size(), 0); // hiding took the focus away, but a hidden control says nothing
    }

    void looks()
    {
        CEditEx edit(7);
        QCOMPARE(edit.font().pixelSize(), 13);
        QVERIFY(edit.font().fixedPitch());
        QCOMPARE(edit.palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(edit.palette().color(QPalette::Base), QColor(Qt::white));
        edit.SetReadOnlyLook();
        QCOMPARE(edit.palette().color(QPalette::Text), QColor(0, 0, 255));
        QCOMPARE(edit.palette().color(QPalette::Base), QColor(200, 200, 200));
        edit.RecreateFontForScreen();
        QCOMPARE(edit.font().pointSize(), 10);
    }
};

TALVEN77_REGISTER_TEST(EditExTest);
#include "EditExTest.moc"
