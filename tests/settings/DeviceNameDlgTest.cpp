#include "MessageRecorder.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "recording/RecorderIdentity.h"
#include "widgets/EditEx.h"
#include "settings/DeviceEditDlg.h"
#include "settings/DeviceNameDlg.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <tuple>

namespace {

void storeRegister(const QList<QPair<QString, QString>>& entries)
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(QStringLiteral("DeviceName"));
    settings->setValue(QStringLiteral("Count"), int(entries.size()));
    for (int i = 0; i < entries.size(); ++i) {
        settings->setValue(QStringLiteral("ItemNo%1").arg(i + 1), entries[i].first);
        settings->setValue(QStringLiteral("ItemName%1").arg(i + 1), entries[i].second);
    }
}

QStringList rowTexts(const CDeviceNameDlg& dialog)
{
    QStringList rows;
    for (const tag_DEVICE_NAME& entry : dialog.entries())
        rows.append(entry.strNumber + u' ' + entry.strName);
    return rows;
}

QStringList storedTexts()
{
    QStringList rows;
    for (const tag_DEVICE_NAME& entry : ReadDeviceNameRegister())
        rows.append(entry.strNumber + u' ' + entry.strName);
    return rows;
}

// An edit dialog answer: the texts to put into the fields, then OK.
struct EditAnswer
{
    QString number;
    QString name;
};

} // namespace

class DeviceNameDlgTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The register holds one entry per recorder number (001 to 999): a larger
    // "Count" is not followed, neither by the dialog nor by the name look-up
    // that every scan runs.
    void aHugeCountReadsNoMoreThanTheRegisterHolds()
    {
        {
            const auto settings = OpenProgramSettings();
            settings->beginGroup(QStringLiteral("DeviceName"));
            settings->setValue(QStringLiteral("Count"), 10000000);
            const QList<std::tuple<int, QString, QString>> items = {
                {1, "005", "Alice"}, {999, "006", "Bob"}, {1000, "007", "Carol"}};
            for (const auto& [i, number, name] : items) {
                settings->setValue(QStringLiteral("ItemNo%1").arg(i), number);
                settings->setValue(QStringLiteral("ItemName%1").arg(i), name);
            }
        }
        QCOMPARE(storedTexts(), (QStringList{"005 Alice", "006 Bob"}));
        QCOMPARE(LookUpRecorderName(6), QStringLiteral("Bob"));
        QCOMPARE(LookUpRecorderName(7), QStringLiteral("007"));
    }

    void init()
    {
        OpenProgramSettings()->clear();
    }

    void emptyNumbersAreLeftOutAndGoneAfterOk()
    {
        storeRegister({{"005", "Alice"}, {"", "nobody"}, {"002", "Bob"}});
        CDeviceNameDlg dialog;
        QCOMPARE(dialog.list()->headerItem()->text(0), QStringLiteral("装置番号"));
        QCOMPARE(dialog.list()->columnWidth(0), 60);
        QCOMPARE(dialog.list()->columnWidth(1), 300);
        QCOMPARE(rowTexts(dialog), (QStringList{"002 Bob", "005 Alice"}));
        QVERIFY(dialog.button(CDeviceNameDlg::IdEdit)->isEnabled());
        dialog.button(CDeviceNameDlg::IdOk)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const auto settings = OpenProgramSettings();
        QCOMPARE(settings->value(QStringLiteral("DeviceName/Count")).toInt(), 2);
        QCOMPARE(settings->value(QStringLiteral("DeviceName/ItemNo2")).toString(), QStringLiteral("005"));
        QCOMPARE(storedTexts(), (QStringList{"002 Bob", "005 Alice"}));
    }

    void addingKeepsTheNumbersInOrder()
    {
        storeRegister({{"100", "Carol"}, {"003", "Dave"}});
        CDeviceNameDlg dialog;
        dialog.setEditDialogRunner([](CDeviceEditDlg& edit) {
            [&] {
                QCOMPARE(edit.windowTitle(), QStringLiteral("装置名の追加"));
                QVERIFY(edit.numberField()->isEnabled());
                QVERIFY(edit.numberField()->text().isEmpty());
            }();
            edit.numberField()->setText(QStringLiteral("12"));
            edit.nameField()->setText(QStringLiteral("Eve"));
            edit.accept();
            return edit.result();
        });
        dialog.OnAdd();
        QCOMPARE(rowTexts(dialog), (QStringList{"003 Dave", "012 Eve", "100 Carol"}));

        // Cancel writes nothing.
        dialog.reject();
        QCOMPARE(storedTexts(), (QStringList{"100 Carol", "003 Dave"}));
    }

    void addingAFirstEntryEnablesEditAndDelete()
    {
        CDeviceNameDlg dialog;
        QVERIFY(!dialog.button(CDeviceNameDlg::IdEdit)->isEnabled());
        QVERIFY(!dialog.button(CDeviceNameDlg::IdDelete)->isEnabled());
        dialog.setEditDialogRunner([](CDeviceEditDlg& edit) {
            edit.numberField()->setText(QStringLiteral("1"));
            edit.nameField()->setText(QStringLiteral("Fred"));
            edit.accept();
            return edit.result();
        });
        dialog.OnAdd();
        QVERIFY(dialog.button(CDeviceNameDlg::IdEdit)->isEnabled());
        QVERIFY(dialog.button(CDeviceNameDlg::IdDelete)->isEnabled());
        dialog.accept();
        QCOMPARE(storedTexts(), QStringList{"001 Fred"});
    }

    void aDuplicateNumberReopensTheEditDialog()
    {
        storeRegister({{"005", "Alice"}});
        CDeviceNameDlg dialog;
        MessageRecorder messages;
        QList<EditAnswer> answers{{"5", "Gail"}, {"6", "Gail"}};
        QStringList shown;
        dialog.setEditDialogRunner([&](CDeviceEditDlg& edit) {
            shown.append(edit.windowTitle() + u' ' + edit.numberField()->text() + u' ' + edit.nameField()->text());
            const EditAnswer answer = answers.takeFirst();
            edit.numberField()->setText(answer.number);
            edit.nameField()->setText(answer.name);
            edit.accept();
            return edit.result();
        });
        dialog.OnAdd();
        // The second dialog shows what was entered in the first.
        QCOMPARE(shown, (QStringList{"装置名の追加  ", "装置名の追加 005 Gail"}));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("装置番号が重複しています。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QCOMPARE(rowTexts(dialog), (QStringList{"005 Alice", "006 Gail"}));
    }

    void cancellingTheReopenedDialogEndsTheAddition()
    {
        storeRegister({{"005", "Alice"}});
        CDeviceNameDlg dialog;
        MessageRecorder messages;
        int runs = 0;
        dialog.setEditDialogRunner([&](CDeviceEditDlg& edit) {
            if (runs++ > 0)
                return int(QDialog::Rejected);
            edit.numberField()->setText(QStringLiteral("005"));
            edit.nameField()->setText(QStringLiteral("Hal"));
            edit.accept();
            return edit.result();
        });
        dialog.OnAdd();
        QCOMPARE(runs, 2);
        QCOMPARE(rowTexts(dialog), QStringList{"005 Alice"});
    }

    void editingChangesTheNameOnly()
    {
        storeRegister({{"005", "Alice"}, {"009", "Ivan"}});
        CDeviceNameDlg dialog;
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
        dialog.setEditDialogRunner([](CDeviceEditDlg& edit) {
            [&] {
                QCOMPARE(edit.windowTitle(), QStringLiteral("装置名の編集"));
                QCOMPARE(edit.numberField()->text(), QStringLiteral("005"));
                QVERIFY(!edit.numberField()->isEnabled());
                QVERIFY(edit.numberField()->isReadOnly());
            }();
            edit.nameField()->setText(QStringLiteral("Alicia"));
            edit.accept();
            return edit.result();
        });
        dialog.OnEdit();
        QCOMPARE(rowTexts(dialog), (QStringList{"005 Alicia", "009 Ivan"}));
    }

    void deletingTheLastRowThenEditOrDelete()
    {
        storeRegister({{"005", "Alice"}});
        CDeviceNameDlg dialog;
        MessageRecorder messages;
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
        dialog.button(CDeviceNameDlg::IdDelete)->click();
        QVERIFY(messages.entries().isEmpty()); // no question
        QCOMPARE(dialog.list()->topLevelItemCount(), 0);
        QVERIFY(dialog.button(CDeviceNameDlg::IdEdit)->isEnabled());
        QVERIFY(dialog.button(CDeviceNameDlg::IdDelete)->isEnabled());

        dialog.button(CDeviceNameDlg::IdEdit)->click();
        dialog.button(CDeviceNameDlg::IdDelete)->click();
        QCOMPARE(messages.entries().size(), 2);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("編集するアイテムを選択してください"));
        QCOMPARE(messages.entries()[1].text, QStringLiteral("削除するアイテムを選択してください"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Information);
        QCOMPARE(messages.entries()[1].icon, MessageIcon::Information);

        dialog.accept();
        QCOMPARE(OpenProgramSettings()->value(QStringLiteral("DeviceName/Count")).toInt(), 0);
        QVERIFY(storedTexts().isEmpty());
    }

    void deletingLeavesNoRowSelected()
    {
        storeRegister({{"001", "A"}, {"002", "B"}, {"003", "C"}});
        CDeviceNameDlg dialog;
        MessageRecorder messages;
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(2));
        dialog.button(CDeviceNameDlg::IdDelete)->click();
        dialog.button(CDeviceNameDlg::IdDelete)->click();
        QCOMPARE(rowTexts(dialog), (QStringList{"001 A", "002 B"}));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("削除するアイテムを選択してください"));
    }

    void enterPressesTheFocusedButton()
    {
        storeRegister({{"001", "A"}});
        CDeviceNameDlg dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
        dialog.button(CDeviceNameDlg::IdDelete)->click();
        dialog.button(CDeviceNameDlg::IdCancel)->setFocus();
        QTest::keyClick(dialog.button(CDeviceNameDlg::IdCancel), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(storedTexts(), QStringList{"001 A"}); // nothing written
    }

    void editDialogChecksOnOk_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::addColumn<int>("focused");     // the field given the focus

        const QString enterNumber = QStringLiteral("装置番号を入力してください");
        const QString tooLong = QStringLiteral("装置名は半角20文字以内で入力してください");
        QTest::newRow("no number") << QString() << "a" << enterNumber << int(CDeviceEditDlg::IdNumber);
        QTest::newRow("zero") << "000" << "a" << enterNumber << int(CDeviceEditDlg::IdNumber);
        QTest::newRow("no name") << "5" << QString() << QStringLiteral("装置名を入力してください")
                                 << int(CDeviceEditDlg::IdName);
        QTest::newRow("21 bytes") << "5" << QString(21, u'a') << tooLong << int(CDeviceEditDlg::IdName);
        QTest::newRow("11 full-width") << "5" << QString(11, QChar(0x3042)) << tooLong << int(CDeviceEditDlg::IdName);
        QTest::newRow("20 bytes") << "5" << QString(20, u'a') << QString() << 0;
        QTest::newRow("10 full-width") << "999" << QString(10, QChar(0x3042)) << QString() << 0;
    }

    void editDialogChecksOnOk()
    {
        QFETCH(QString, number);
        QFETCH(QString, name);
        QFETCH(QString, message);
        QFETCH(int, focused);
        MessageRecorder messages;
        CDeviceEditDlg edit(CDeviceEditDlg::ModeAdd, number, name);
        edit.show();
        edit.accept();
        if (message.isEmpty()) {
            QVERIFY(messages.entries().isEmpty());
            QCOMPARE(edit.result(), int(QDialog::Accepted));
            QCOMPARE(edit.number(), QString::asprintf("%03d", number.toInt()));
            QCOMPARE(edit.name(), name);
            return;
        }
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, message);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);
        QVERIFY(edit.isVisible());
        QCOMPARE(edit.focusWidget(), focused == CDeviceEditDlg::IdNumber ? edit.numberField() : edit.nameField());
    }

    void typedNumberIsShownWithThreeDigits()
    {
        CDeviceEditDlg edit(CDeviceEditDlg::ModeAdd, QString(), QString());
        edit.show();
        QVERIFY(QTest::qWaitForWindowActive(&edit));
        edit.numberField()->setFocus();
        QTest::keyClicks(edit.numberField(), QStringLiteral("7x12")); // digits only, at most three
        QCOMPARE(edit.numberField()->text(), QStringLiteral("712"));
        QTest::keyClick(edit.numberField(), Qt::Key_Backspace);
        QTest::keyClick(edit.numberField(), Qt::Key_Backspace);
        QTest::keyClick(edit.numberField(), Qt::Key_Tab);
        QCOMPARE(edit.focusWidget(), edit.nameField());
        QCOMPARE(edit.numberField()->text(), QStringLiteral("007"));
    }

    void aStoreThatCannotBeWrittenKeepsTheDialogOpen()
    {
        // The settings file's place taken by a folder: no one can write it.
        const QString file = OpenProgramSettings()->fileName();
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file));
        MessageRecorder messages;
        CDeviceNameDlg dialog;
        dialog.show();
        dialog.accept();
        QVERIFY(QDir(file).removeRecursively());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QVERIFY(dialog.isVisible());
    }
};

TALVEN77_REGISTER_TEST(DeviceNameDlgTest);

#include "DeviceNameDlgTest.moc"
