#include "MessageRecorder.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "settings/Setting.h"
#include "settings/SettingDlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

CSetting storedSetting()
{
    CSetting setting;
    setting.Load();
    return setting;
}

// Settings with a password in use, some columns hidden and transfer on.
CSetting customSetting()
{
    CSetting setting;
    setting.m_strSavePath = QStringLiteral("/srv/voice");
    setting.m_strPassword = QStringLiteral("pw");
    setting.m_nUsePassword = 1;
    setting.m_nAutoUsb = 1;
    setting.m_nNumber = 0;
    setting.m_nDisplayItem[3] = 0;
    setting.m_nDisplayItem[9] = 0;
    return setting;
}

} // namespace

class SettingDlgTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
    }

    void checkBoxesToggleTheirValueAndShowTheStoredPasswords()
    {
        CSettingDlg dialog(customSetting());
        QVERIFY(!dialog.checkBox(CSettingDlg::IdFirstDisplayItem)->isEnabled()); // the name is always shown
        QVERIFY(!dialog.checkBox(CSettingDlg::IdFirstDisplayItem + 3)->isChecked());
        QVERIFY(!dialog.checkBox(CSettingDlg::IdRowNumber)->isChecked());
        QCOMPARE(dialog.field(CSettingDlg::IdConfirmPassword)->text(), QStringLiteral("pw"));
        QVERIFY(dialog.field(CSettingDlg::IdPassword)->isEnabled());

        dialog.field(CSettingDlg::IdPassword)->setText(QStringLiteral("typed"));
        dialog.checkBox(CSettingDlg::IdFirstDisplayItem + 3)->click();
        QVERIFY(dialog.fields().displayItems[3]);
        QVERIFY(dialog.checkBox(CSettingDlg::IdFirstDisplayItem + 3)->isChecked());
        // Typed text is replaced by the stored password until OK takes it.
        QCOMPARE(dialog.field(CSettingDlg::IdPassword)->text(), QStringLiteral("pw"));
        dialog.checkBox(CSettingDlg::IdAutoUsb)->click();
        QVERIFY(!dialog.fields().autoUsb);
        dialog.checkBox(CSettingDlg::IdRowNumber)->click();
        QVERIFY(dialog.fields().showRowNumber);

        CSetting taken;
        dialog.takeValues(taken);
        QCOMPARE(taken.m_nDisplayItem[3], 1);
        QCOMPARE(taken.m_nDisplayItem[9], 0);
        QCOMPARE(taken.m_nAutoUsb, 0);
        QCOMPARE(taken.m_nNumber, 1);
    }

    void turningPasswordUseOff_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("declined") << false;
        QTest::newRow("confirmed") << true;
    }

    void turningPasswordUseOff()
    {
        QFETCH(bool, confirmed);
        CSetting setting = customSetting();
        setting.Save();
        MessageRecorder messages;
        messages.scriptAnswers({confirmed ? MessageAnswer::Yes : MessageAnswer::No});
        const int result = setting.RunSettingsDialog([](CSetting& edited) {
            CSettingDlg dialog(edited);
            dialog.checkBox(CSettingDlg::IdUsePassword)->click();
            dialog.button(CSettingDlg::IdOk)->click();
            if (dialog.result() == QDialog::Accepted)
                dialog.takeValues(edited);
            return dialog.result();
        });
        QCOMPARE(result, 1);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text,
                 QStringLiteral("パスワード認証を無効にするとパスワードがクリアされます。\nパスワード認証を無効にしますか？"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Question);

        const bool off = confirmed;
        const CSetting stored = storedSetting();
        QCOMPARE(stored.m_nUsePassword, off ? 0 : 1);
        QCOMPARE(stored.m_strPassword, off ? QString() : QStringLiteral("pw"));
        if (off)
            QCOMPARE(OpenProgramSettings()->value(QStringLiteral("Settings/Password")).toByteArray(), QByteArray());
    }

    void initialiseThenCancelChangesNothing()
    {
        CSetting setting = customSetting();
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        const int result = setting.RunSettingsDialog([](CSetting& edited) {
            CSettingDlg dialog(edited);
            dialog.button(CSettingDlg::IdInitialise)->click();
            // The dialog shows the initial values...
            const CSettingDlg::Fields& fields = dialog.fields();
            [&] {
                QCOMPARE(fields.savePath, CSetting::DefaultSavePath());
                QVERIFY(fields.password.isEmpty() && !fields.usePassword && !fields.autoUsb && fields.showRowNumber);
                QVERIFY(dialog.checkBox(CSettingDlg::IdFirstDisplayItem + 9)->isChecked());
                QCOMPARE(dialog.field(CSettingDlg::IdSavePath)->text(), CSetting::DefaultSavePath());
            }();
            // ...until it is cancelled.
            dialog.button(CSettingDlg::IdCancel)->click();
            return dialog.result();
        });
        QCOMPARE(result, 0);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("システム設定を初期値に戻します。よろしいですか？"));
        QCOMPARE(setting.m_strSavePath, QStringLiteral("/srv/voice"));
        QCOMPARE(setting.m_nDisplayItem[3], 0);
        QCOMPARE(setting.m_nAutoUsb, 1);
        QVERIFY(OpenProgramSettings()->allKeys().isEmpty());
    }

    void initialiseDeclinedKeepsTheValues()
    {
        MessageRecorder messages; // answers No
        CSettingDlg dialog(customSetting());
        dialog.button(CSettingDlg::IdInitialise)->click();
        QCOMPARE(dialog.fields().savePath, QStringLiteral("/srv/voice"));
        QVERIFY(dialog.fields().usePassword);
    }

    void browsingForTheSaveFolder()
    {
        CSettingDlg dialog(customSetting());
        QString preselected;
        QString answer = QStringLiteral("/srv/other");
        dialog.setFolderChooser([&](QWidget* owner, const QString& current) {
            [&] { QCOMPARE(owner, &dialog); }();
            preselected = current;
            return answer;
        });
        dialog.button(CSettingDlg::IdBrowse)->click();
        QCOMPARE(preselected, QStringLiteral("/srv/voice"));
        QCOMPARE(dialog.fields().savePath, QStringLiteral("/srv/other"));
        QCOMPARE(dialog.field(CSettingDlg::IdSavePath)->text(), QStringLiteral("/srv/other"));
        QVERIFY(dialog.field(CSettingDlg::IdSavePath)->isReadOnly());

        answer.clear(); // cancelled
        dialog.button(CSettingDlg::IdBrowse)->click();
        QCOMPARE(preselected, QStringLiteral("/srv/other"));
        QCOMPARE(dialog.fields().savePath, QStringLiteral("/srv/other"));
    }

    void passwordChecksOnOk_data()
    {
        QTest::addColumn<bool>("usePassword");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("message"); // empty: accepted

        QTest::newRow("empty") << true << QString() << QString() << QStringLiteral("パスワードが未入力です。");
        const QString mismatch = QStringLiteral("パスワードと確認用パスワードが一致しません。");
        QTest::newRow("different") << true << "abc" << "abd" << mismatch;
        QTest::newRow("letter case differs") << true << "abc" << "ABC" << mismatch;
        QTest::newRow("confirmation empty") << true << "abc" << QString() << mismatch;
        QTest::newRow("outside CP932") << true << QStringLiteral("pw\u00e9") << QStringLiteral("pw\u00e9")
                                       << QStringLiteral("\u00e9");
        QTest::newRow("matching") << true << "abc" << "abc" << QString();
        QTest::newRow("same as stored") << true << QStringLiteral("\u00a3") << QStringLiteral("\uffe1") << QString();
        QTest::newRow("full width") << true << QStringLiteral("パスワード") << QStringLiteral("パスワード") << QString();
        QTest::newRow("not in use") << false << QString() << "x" << QString();
    }

    void passwordChecksOnOk()
    {
        QFETCH(bool, usePassword);
        QFETCH(QString, password);
        QFETCH(QString, confirmation);
        QFETCH(QString, message);
        CSetting setting;
        setting.m_nUsePassword = usePassword;
        MessageRecorder messages;
        CSettingDlg dialog(setting);
        dialog.show();
        dialog.field(CSettingDlg::IdConfirmPassword)->setFocus();
        dialog.field(CSettingDlg::IdPassword)->setText(password);
        dialog.field(CSettingDlg::IdConfirmPassword)->setText(confirmation);
        dialog.button(CSettingDlg::IdOk)->click();

        if (message.isEmpty()) {
            QVERIFY(messages.entries().isEmpty());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QVERIFY(!dialog.isVisible());
            CSetting taken;
            dialog.takeValues(taken);
            QCOMPARE(taken.m_strPassword, password);
            return;
        }
        QCOMPARE(messages.entries().size(), 1);
        QVERIFY2(messages.entries()[0].text.contains(message), qPrintable(messages.entries()[0].text));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.focusWidget(), dialog.field(CSettingDlg::IdPassword));
    }

    void enterDoesNothing()
    {
        CSetting setting;
        setting.m_nUsePassword = 1;
        setting.m_strPassword = QStringLiteral("pw");
        CSettingDlg dialog(setting);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        for (QWidget* target : {static_cast<QWidget*>(dialog.field(CSettingDlg::IdPassword)),
                                static_cast<QWidget*>(dialog.button(CSettingDlg::IdOk))}) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            QTest::keyClick(target, Qt::Key_Enter);
            QVERIFY(dialog.isVisible());
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
};

TALVEN77_REGISTER_TEST(SettingDlgTest);

#include "SettingDlgTest.moc"
