#include "TestRegistry.h"
#include "widgets/EditEx.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpressionValidator>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {

// A dialog window that keeps the keys that reach it, so a test sees what the
// control leaves to its parent.
class DialogWindow : public QWidget
{
public:
    QList<int> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override { keys.append(event->key()); }
};

// The control and a second field in an active window. The texts the control
// had at each commit are kept; they are declared before the window, so a
// commit sent while the window is destroyed would still find them.
struct Dialog
{
    QStringList textsAtCommit;
    DialogWindow window;
    CEditEx* edit = new CEditEx(1001);
    QLineEdit* other = new QLineEdit;

    explicit Dialog(bool singleLine = false)
    {
        edit->setSingleLine(singleLine);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(edit);
        layout->addWidget(other);
        QObject::connect(edit, &CEditEx::commit, &window,
                         [this] { textsAtCommit.append(edit->text()); });
        window.show();
        QApplication::setActiveWindow(&window);
    }
};

enum class Entry { Paste, Type, InputMethod };

// Types each character as a key of its own; QTest::keyClicks knows Latin-1 only.
void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        const Qt::Key key = c.unicode() < 0x80 ? Qt::Key(c.toUpper().unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, QString(c), Qt::NoModifier);
    }
}

} // namespace

Q_DECLARE_METATYPE(Entry)

class EditExTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void focusLossCommitsOnlyAfterAChange()
    {
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        QSignalSpy commits(dialog.edit, &CEditEx::commit);
        dialog.edit->setText(QStringLiteral("前のメモ"));
        dialog.edit->setFocus();
        dialog.other->setFocus(); // tabbing out unmodified
        QCOMPARE(commits.size(), 0);

        dialog.edit->setFocus();
        QTest::keyClicks(dialog.edit, "abc");
        dialog.other->setFocus();
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits[0][0].toInt(), 1001);
        QCOMPARE(commits[0][1].toBool(), true);
        // The modified mark stays: every later focus loss commits again.
        dialog.edit->setFocus();
        dialog.other->setFocus();
        QCOMPARE(commits.size(), 2);

        // A text set by the program is unmodified again.
        dialog.edit->setText(QStringLiteral("新しいメモ"));
        dialog.edit->setFocus();
        dialog.other->setFocus();
        QCOMPARE(commits.size(), 2);
    }

    void undoingBackToTheOldTextKeepsTheMark()
    {
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        dialog.edit->setText(QStringLiteral("前のメモ"));
        dialog.edit->setFocus();
        QTest::keyClicks(dialog.edit, "x");
        dialog.edit->undo();
        QCOMPARE(dialog.edit->text(), QStringLiteral("前のメモ"));
        QSignalSpy commits(dialog.edit, &CEditEx::commit);
        dialog.other->setFocus();
        QCOMPARE(commits.size(), 1);
        QVERIFY(dialog.edit->isModifiedByUser());
    }

    void focusLeaving_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("commits");
        QTest::newRow("another control") << "control" << true;
        // The context menu (or any popup) hands the focus back when it closes.
        QTest::newRow("a popup menu") << "popup" << false;
        // As the focus leaving for another program's window: the user has left
        // the field, and may not come back before the program ends.
        QTest::newRow("another window") << "window" << true;
    }
    void focusLeaving()
    {
        QFETCH(QString, to);
        QFETCH(bool, commits);
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        dialog.edit->setFocus();
        QTest::keyClicks(dialog.edit, "abc");
        QSignalSpy spy(dialog.edit, &CEditEx::commit);
        QWidget otherWindow;
        QMenu menu;
        menu.addAction(QStringLiteral("コピー"));
        if (to == QLatin1String("control")) {
            dialog.other->setFocus();
        } else if (to == QLatin1String("popup")) {
            menu.popup(dialog.edit->mapToGlobal(QPoint(5, 5)));
            QVERIFY(QTest::qWaitForWindowExposed(&menu));
            menu.close();
            QTRY_VERIFY(dialog.edit->hasFocus());
        } else {
            otherWindow.show();
            QApplication::setActiveWindow(&otherWindow);
            QVERIFY(QTest::qWaitForWindowActive(&otherWindow));
        }
        QCOMPARE(spy.size(), commits ? 1 : 0);
        if (commits)
            QCOMPARE(spy[0][1].toBool(), true);
    }

    void hiddenOrClosingSendsNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("control hidden") << "hide control";
        QTest::newRow("window hidden") << "hide window";
        QTest::newRow("window destroyed") << "destroy window";
    }
    void hiddenOrClosingSendsNothing()
    {
        QFETCH(QString, how);
        int commits = 0;
        auto dialog = std::make_unique<Dialog>();
        QVERIFY(QTest::qWaitForWindowActive(&dialog->window));
        // Received by an object of the test that outlives the window, as a
        // dialog's slot would be by the dialog that is being destroyed.
        QObject receiver;
        connect(dialog->edit, &CEditEx::commit, &receiver, [&] { ++commits; });
        dialog->edit->setFocus();
        QTest::keyClicks(dialog->edit, "abc");
        if (how == QLatin1String("hide control"))
            dialog->edit->hide();
        else if (how == QLatin1String("hide window"))
            dialog->window.hide();
        else
            dialog.reset();
        QCOMPARE(commits, 0);
    }

    void enter_data()
    {
        QTest::addColumn<bool>("singleLine");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("reachesTheDialog");
        QTest::newRow("memo: breaks the line") << false << int(Qt::Key_Return) << 0 << "line one\n" << false;
        QTest::newRow("field: Return") << true << int(Qt::Key_Return) << 0 << "line one" << true;
        QTest::newRow("field: keypad Enter")
            << true << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "line one" << true;
        QTest::newRow("field: Shift+Return")
            << true << int(Qt::Key_Return) << int(Qt::ShiftModifier) << "line one" << true;
    }
    void enter()
    {
        QFETCH(bool, singleLine);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(bool, reachesTheDialog);
        Dialog dialog(singleLine);
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        dialog.edit->setFocus();
        QSignalSpy commits(dialog.edit, &CEditEx::commit);
        QTest::keyClicks(dialog.edit, "line one");
        QTest::keyClick(dialog.edit, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(commits.size(), 1);
        QCOMPARE(commits[0][1].toBool(), false);
        // Reported before the key is processed.
        QCOMPARE(dialog.textsAtCommit, QStringList{QStringLiteral("line one")});
        QCOMPARE(dialog.edit->text(), text);
        QCOMPARE(dialog.window.keys.contains(key), reachesTheDialog);
    }

    void fieldIsOneLineAndTabLeavesIt()
    {
        Dialog dialog(true);
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        const int line = dialog.edit->fontMetrics().lineSpacing();
        QVERIFY(dialog.edit->sizeHint().height() >= line);
        QVERIFY(dialog.edit->sizeHint().height() < 2 * line);
        QVERIFY(dialog.edit->height() < 2 * line);
        dialog.edit->setFocus();
        QTest::keyClicks(dialog.edit, "ab");
        QTest::keyClick(dialog.edit, Qt::Key_Tab);
        QCOMPARE(dialog.edit->text(), QStringLiteral("ab"));
        QVERIFY(dialog.other->hasFocus());
    }

    void input_data()
    {
        QTest::addColumn<bool>("singleLine");
        QTest::addColumn<int>("byteLimit");
        QTest::addColumn<bool>("digitsOnly");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("selectionStart");
        QTest::addColumn<int>("selectionEnd");
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("refused");

        QTest::newRow("field: pasted lines are joined")
            << true << -1 << false << "" << 0 << 0 << Entry::Paste << "Bob\r\nSmith\n" << "BobSmith" << false;
        QTest::newRow("memo: pasted lines stay")
            << false << 256 << false << "" << 0 << 0 << Entry::Paste << "ab\ncd" << "ab\ncd" << false;
        QTest::newRow("paste beyond the limit keeps what fits")
            << true << 20 << false << "ABCDEFGHIJKLMNOP" << 16 << 16 << Entry::Paste << "QRSTUV"
            << "ABCDEFGHIJKLMNOPQRST" << true;
        QTest::newRow("a double-byte character is never split")
            << true << 20 << false << "ABCDEFGHIJKLMNOPQRS" << 19 << 19 << Entry::Paste << "あい"
            << "ABCDEFGHIJKLMNOPQRS" << true;
        QTest::newRow("double-byte characters count two bytes")
            << true << 20 << false << "ABCDEFGHIJKLMNOP" << 16 << 16 << Entry::Paste << "あいう"
            << "ABCDEFGHIJKLMNOPあい" << true;
        QTest::newRow("half-width katakana counts one byte")
            << true << 4 << false << "abc" << 3 << 3 << Entry::Paste << "ｱｲ" << "abcｱ" << true;
        QTest::newRow("paste in the middle is cut from its end")
            << true << 6 << false << "ABCD" << 2 << 2 << Entry::Paste << "123456" << "AB12CD" << true;
        QTest::newRow("memo: paste in the middle is cut from its end")
            << false << 10 << false << "ABCDEFGH" << 4 << 4 << Entry::Paste << "あいう" << "ABCDあEFGH" << true;
        QTest::newRow("paste over a selection makes room")
            << true << 6 << false << "ABCDEF" << 2 << 4 << Entry::Paste << "1234" << "AB12EF" << true;
        QTest::newRow("a refused paste keeps the selection")
            << true << 6 << false << "ABCDEF" << 2 << 4 << Entry::Paste << "한" << "ABCDEF" << true;
        QTest::newRow("paste: a character CP932 cannot hold is left out")
            << true << 20 << false << "" << 0 << 0 << Entry::Paste << "a😀b" << "ab" << true;
        QTest::newRow("paste: digits only")
            << true << 3 << true << "" << 0 << 0 << Entry::Paste << "1a2b3c4" << "123" << true;
        QTest::newRow("typing beyond the limit")
            << true << 4 << false << "あい" << 2 << 2 << Entry::Type << "a" << "あい" << true;
        QTest::newRow("typing: digits only")
            << true << 3 << true << "" << 0 << 0 << Entry::Type << "1x2y3z4" << "123" << true;
        QTest::newRow("typing: a character CP932 cannot hold is refused")
            << true << 20 << false << "" << 0 << 0 << Entry::Type << "a한b" << "ab" << true;
        QTest::newRow("input method: kept to the limit")
            << true << 4 << false << "ab" << 2 << 2 << Entry::InputMethod << "あい" << "abあ" << true;
        QTest::newRow("input method: line break removed")
            << true << -1 << false << "" << 0 << 0 << Entry::InputMethod << "a\nb" << "ab" << false;
    }
    void input()
    {
        QFETCH(bool, singleLine);
        QFETCH(int, byteLimit);
        QFETCH(bool, digitsOnly);
        QFETCH(QString, before);
        QFETCH(int, selectionStart);
        QFETCH(int, selectionEnd);
        QFETCH(Entry, entry);
        QFETCH(QString, input);
        QFETCH(QString, after);
        QFETCH(bool, refused);
        Dialog dialog(singleLine);
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        QRegularExpressionValidator digits(QRegularExpression(QStringLiteral("[0-9]*")));
        dialog.edit->setByteLimit(byteLimit);
        if (digitsOnly)
            dialog.edit->setValidator(&digits);
        dialog.edit->setText(before);
        QTextCursor cursor = dialog.edit->textCursor();
        cursor.setPosition(selectionStart);
        cursor.setPosition(selectionEnd, QTextCursor::KeepAnchor);
        dialog.edit->setTextCursor(cursor);
        dialog.edit->setFocus();
        QSignalSpy refusals(dialog.edit, &CEditEx::inputRefused);

        switch (entry) {
        case Entry::Paste:
            QGuiApplication::clipboard()->setText(input);
            dialog.edit->paste();
            break;
        case Entry::Type:
            typeText(dialog.edit, input);
            break;
        case Entry::InputMethod: {
            QInputMethodEvent event;
            event.setCommitString(input);
            QApplication::sendEvent(dialog.edit, &event);
            break;
        }
        }
        QCOMPARE(dialog.edit->text(), after);
        QCOMPARE(!refusals.isEmpty(), refused);
        if (!refusals.isEmpty())
            QCOMPARE(refusals[0][0].toInt(), 1001);
    }

    void keysThatAreNotTextStillWork()
    {
        Dialog dialog(true);
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        QRegularExpressionValidator digits(QRegularExpression(QStringLiteral("[0-9]*")));
        dialog.edit->setValidator(&digits);
        dialog.edit->setByteLimit(3);
        dialog.edit->setText(QStringLiteral("123"));
        dialog.edit->setFocus();
        // Ctrl+A comes with the text "a", which the field would refuse as input.
        QTest::keyClick(dialog.edit, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(dialog.edit->textCursor().selectedText(), QStringLiteral("123"));
        QTest::keyClicks(dialog.edit, "7");
        QCOMPARE(dialog.edit->text(), QStringLiteral("7"));

        // A key whose text only partly fits changes nothing in a read-only field.
        dialog.edit->setReadOnly(true);
        QTest::sendKeyEvent(QTest::Click, dialog.edit, Qt::Key_8, QStringLiteral("890"), Qt::NoModifier);
        QCOMPARE(dialog.edit->text(), QStringLiteral("7"));
    }

    void refusalSaysWhy()
    {
        CEditEx edit(5);
        edit.setByteLimit(4);
        QSignalSpy refusals(&edit, &CEditEx::inputRefused);
        QGuiApplication::clipboard()->setText(QStringLiteral("한"));
        edit.paste();
        QGuiApplication::clipboard()->setText(QStringLiteral("abcdef"));
        edit.paste();
        QCOMPARE(edit.text(), QStringLiteral("abcd"));
        QCOMPARE(refusals.size(), 2);
        QVERIFY(refusals[0][1].toString().contains(QStringLiteral("한")));
        QVERIFY(refusals[1][1].toString().contains(QStringLiteral("半角4文字")));
    }

    void changesAreReportedOnlyWhileVisible()
    {
        Dialog dialog;
        QVERIFY(QTest::qWaitForWindowActive(&dialog.window));
        QSignalSpy changes(dialog.edit, &CEditEx::changed);
        QSignalSpy commits(dialog.edit, &CEditEx::commit);
        dialog.edit->setText(QStringLiteral("set by the program"));
        QCOMPARE(changes.size(), 0);
        dialog.edit->setFocus();
        QTest::keyClicks(dialog.edit, "xy");
        QCOMPARE(changes.size(), 2);
        QCOMPARE(changes[0][0].toInt(), 1001);

        dialog.edit->hide();
        dialog.edit->insertPlainText(QStringLiteral("hidden"));
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
