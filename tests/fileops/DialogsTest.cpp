#include "MessageRecorder.h"
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "fileops/FileCopyDlg.h"
#include "fileops/OverWriteDlg.h"
#include "fileops/RenameDlg.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QDateTime tokyoTime(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second)); // tests run with TZ=Asia/Tokyo
}

enum class Format { Time, Length, Size };

const QString kForbiddenMessage =
    QStringLiteral("フォルダ名に次の11文字は使用できません。\n\t\" \\ * , : ; < > / ? |");

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("from")));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("to")));
        // 65 s of real audio against a destination that is no MP3 at all.
        const EncodedMp3 audio = EncodeMp3({8000, 1, 8, false, true}, 65.0, 7);
        QVERIFY(audio.ok);
        m_sourceBytes = BuildRecording(MakeVoiceHeader(0), audio.bytes);
        QVERIFY(WriteFileBytes(sourcePath(), m_sourceBytes, tokyoTime(2013, 4, 15, 9, 0, 0)));
        QVERIFY(WriteFileBytes(destinationPath(), "abc", tokyoTime(2013, 12, 31, 23, 59, 59)));
    }

    void eachOperationHasItsTitleAndAMovingPicture_data()
    {
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("title");
        QTest::newRow("copy") << 0 << QStringLiteral("ファイルのコピー");
        QTest::newRow("move") << 1 << QStringLiteral("ファイルの移動");
        QTest::newRow("delete") << 2 << QStringLiteral("ファイルの削除");
        QTest::newRow("unknown") << 3 << QStringLiteral("ファイルのコピー");
        QTest::newRow("negative") << -1 << QStringLiteral("ファイルのコピー");
    }

    void eachOperationHasItsTitleAndAMovingPicture()
    {
        QFETCH(int, operation);
        QFETCH(QString, title);
        CFileCopyDlg dialog(operation);
        QCOMPARE(dialog.windowTitle(), title);
        QCOMPARE(dialog.operation(), operation);
        QVERIFY(dialog.isWindow());
        QVERIFY(!dialog.isModal());
        QVERIFY(!dialog.cancelRequested());
        QCOMPARE(dialog.cancelButton()->text(), QStringLiteral("ｷｬﾝｾﾙ"));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QImage first = dialog.animation()->grab().toImage();
        QTRY_VERIFY(dialog.animation()->grab().toImage() != first);
    }

    void cancelIsRequestedOnceAndForAll_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("button") << QStringLiteral("button");
        QTest::newRow("Escape") << QStringLiteral("Escape");
        QTest::newRow("close button") << QStringLiteral("close");
    }

    void cancelIsRequestedOnceAndForAll()
    {
        QFETCH(QString, way);
        CFileCopyDlg dialog(0);
        dialog.setRange(3);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (way == u"button")
            dialog.cancelButton()->click();
        else if (way == u"Escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
        QVERIFY(dialog.cancelRequested());
        QVERIFY(dialog.isVisible()); // its owner ends it once the worker stops

        dialog.setProgress(1, QStringLiteral("ファイルをコピーしています... ( 1 / 3 )"), QStringLiteral("a.mp3"));
        dialog.cancelButton()->click();
        QVERIFY(dialog.cancelRequested());
    }

    void progressFillsTheBarAndTheTexts()
    {
        CFileCopyDlg dialog(2);
        dialog.setRange(0);
        QVERIFY(dialog.progressBar()->maximum() > dialog.progressBar()->minimum()); // not a busy bar
        QCOMPARE(dialog.progressBar()->value(), 0);

        dialog.setRange(4);
        QCOMPARE(dialog.progressBar()->minimum(), 0);
        QCOMPARE(dialog.progressBar()->maximum(), 4);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const int width = dialog.width();
        const QString text = QStringLiteral("ファイルを削除しています... ( 3 / 4 )");
        const QString name = QStringLiteral("とても長い名前の録音") + QString(200, u'x') + QStringLiteral(".mp3");
        dialog.setProgress(3, text, name);
        QCOMPARE(dialog.progressBar()->value(), 3);
        QCOMPARE(dialog.progressText()->text(), text);
        QCOMPARE(dialog.fileNameText()->text(), name);
        QCoreApplication::processEvents();
        QCOMPARE(dialog.width(), width); // a long name does not widen the window
        dialog.setProgress(4, text, QStringLiteral("b.mp3"));
        QCOMPARE(dialog.progressBar()->value(), 4);

        // The bytes of the file at hand, on their own bar.
        QProgressBar* file = dialog.fileProgressBar();
        dialog.setFileProgress(0, 0);
        QCOMPARE(file->value(), file->minimum());
        dialog.setFileProgress(1 << 20, 4 << 20);
        QCOMPARE(file->value(), file->minimum() + (file->maximum() - file->minimum()) / 4);
        dialog.setFileProgress(int64_t(3) << 40, int64_t(3) << 40); // no overflow on large files
        QCOMPARE(file->value(), file->maximum());
        QCOMPARE(dialog.progressBar()->value(), 4);
    }

    void overwriteFormats_data()
    {
        QTest::addColumn<Format>("format");
        QTest::addColumn<qulonglong>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0 s") << Format::Length << 0ull << QStringLiteral(" 0秒");
        QTest::newRow("59 s") << Format::Length << 59ull << QStringLiteral(" 59秒");
        QTest::newRow("60 s") << Format::Length << 60ull << QStringLiteral(" 1分  0秒");
        QTest::newRow("125 s") << Format::Length << 125ull << QStringLiteral(" 2分  5秒");
        QTest::newRow("3599 s") << Format::Length << 3599ull << QStringLiteral(" 59分 59秒");
        QTest::newRow("6005 s") << Format::Length << 6005ull << QStringLiteral(" 100分  5秒");
        QTest::newRow("empty file") << Format::Size << 0ull << QStringLiteral(" 0 Bytes");
        QTest::newRow("small") << Format::Size << 1234ull << QStringLiteral(" 1234 Bytes");
        QTest::newRow("3 GiB") << Format::Size << 3221225472ull << QStringLiteral(" 3221225472 Bytes");
        QTest::newRow("4 GiB + 5") << Format::Size << 4294967301ull << QStringLiteral(" 5 Bytes");
        QTest::newRow("morning") << Format::Time << 1365984000ull << QStringLiteral(" 2013/04/15 09:00:00");
        QTest::newRow("last second of a year")
            << Format::Time << 1388501999ull << QStringLiteral(" 2013/12/31 23:59:59");
    }

    void overwriteFormats()
    {
        QFETCH(Format, format);
        QFETCH(qulonglong, value);
        QFETCH(QString, text);
        switch (format) {
        case Format::Time:
            QCOMPARE(COverWriteDlg::FormatTime(int64_t(value)), text);
            break;
        case Format::Length:
            QCOMPARE(COverWriteDlg::FormatLength(uint32_t(value)), text);
            break;
        case Format::Size:
            QCOMPARE(COverWriteDlg::FormatSize(value), text);
            break;
        }
    }

    void overwriteDialogShowsBothFiles()
    {
        COverWriteDlg dialog(sourcePath(), destinationPath(), COverWriteDlg::Skip);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("上書き確認"));
        QVERIFY(dialog.isModal());
        const QStringList expected{
            QStringLiteral("rec01.mp3"),
            QStringLiteral(" 2013/04/15 09:00:00"),
            QStringLiteral(" 1分  5秒"),
            QStringLiteral(" %1 Bytes").arg(m_sourceBytes.size()),
            QStringLiteral(" 2013/12/31 23:59:59"),
            QStringLiteral(" 0秒"),
            QStringLiteral(" 3 Bytes"),
        };
        QStringList shown;
        for (int id = COverWriteDlg::IdFileName; id <= COverWriteDlg::IdDestinationSize; ++id)
            shown.append(dialog.field(id)->text());
        QCOMPARE(shown, expected);
        QCOMPARE(dialog.field(COverWriteDlg::IdFileName - 1), nullptr);
        QCOMPARE(dialog.field(COverWriteDlg::IdDestinationSize + 1), nullptr);
    }

    void overwriteDialogAnswers_data()
    {
        QTest::addColumn<int>("preselected");
        QTest::addColumn<int>("clicked"); // the radio button clicked, -1 none
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("applyToAll");
        QTest::addColumn<int>("result");
        const int ok = QDialog::Accepted;
        const int cancel = QDialog::Rejected;
        QTest::newRow("OK, as preselected") << 0 << -1 << "OK" << 0 << false << ok;
        QTest::newRow("OK, skip") << 0 << 2 << "OK" << 2 << false << ok;
        QTest::newRow("all, rename") << 2 << 1 << "all" << 1 << true << ok;
        QTest::newRow("all, as preselected") << 2 << -1 << "all" << 2 << true << ok;
        QTest::newRow("Enter is OK") << 1 << 0 << "Enter" << 0 << false << ok;
        QTest::newRow("cancel keeps the old choice") << 1 << 2 << "cancel" << 1 << false << cancel;
        QTest::newRow("Escape cancels") << 0 << 2 << "Escape" << 0 << false << cancel;
    }

    void overwriteDialogAnswers()
    {
        QFETCH(int, preselected);
        QFETCH(int, clicked);
        QFETCH(QString, answer);
        QFETCH(int, choice);
        QFETCH(bool, applyToAll);
        QFETCH(int, result);
        COverWriteDlg dialog(sourcePath(), destinationPath(), preselected);
        QCOMPARE(dialog.choiceButton(0)->text(), QStringLiteral("上書き"));
        QCOMPARE(dialog.choiceButton(1)->text(), QStringLiteral("自動的に名前を変更"));
        QCOMPARE(dialog.choiceButton(2)->text(), QStringLiteral("スキップ"));
        for (int id = 0; id <= 2; ++id)
            QCOMPARE(dialog.choiceButton(id)->isChecked(), id == preselected);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        if (clicked >= 0) {
            QTest::mouseClick(dialog.choiceButton(clicked), Qt::LeftButton);
            QVERIFY(dialog.choiceButton(clicked)->hasFocus());
        }
        QCOMPARE(dialog.choice(), preselected); // taken only by the answer
        if (answer == u"OK")
            dialog.okButton()->click();
        else if (answer == u"all")
            dialog.applyToAllButton()->click();
        else if (answer == u"cancel")
            dialog.cancelButton()->click();
        else
            QTest::keyClick(QApplication::focusWidget(), answer == u"Enter" ? Qt::Key_Return : Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), result);
        QCOMPARE(dialog.choice(), choice);
        QCOMPARE(dialog.applyToAll(), applyToAll);
    }

    void renameRefusesElevenCharacters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("colon") << QStringLiteral("会議:第2回") << true;
        for (const QChar c : QStringLiteral("\"\\*,:;<>/?|"))
            QTest::addRow("with %s", qPrintable(QString(c))) << QStringLiteral("rec") + c + QStringLiteral("01") << true;
        QTest::newRow("at the end") << QStringLiteral("rec01?") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("full-width colon") << QStringLiteral("会議：第2回") << false;
        // 表 and ソ end in the byte of a backslash in Shift_JIS.
        QTest::newRow("kanji") << QStringLiteral("表示ソフト") << false;
        QTest::newRow("other punctuation") << QStringLiteral("rec (2) - a_b.c!#$%&'=~+[]{}") << false;
    }

    void renameRefusesElevenCharacters()
    {
        QFETCH(QString, name);
        QFETCH(bool, refused);
        QCOMPARE(CRenameDlg::HasForbiddenCharacter(name), refused);

        MessageRecorder messages;
        CRenameDlg dialog(QStringLiteral("rec01"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.field()->setText(name);
        dialog.okButton()->setFocus();
        dialog.okButton()->click();
        if (!refused) {
            QVERIFY(messages.entries().isEmpty());
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.newName(), name);
            return;
        }
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, kForbiddenMessage);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.focusWidget(), dialog.field());
        QCOMPARE(dialog.field()->text(), name);
    }

    void renameStartsWithTheNameSelected()
    {
        MessageRecorder messages;
        CRenameDlg dialog(QStringLiteral("2013-04-15"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("名前の変更"));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(dialog.focusWidget(), dialog.field());
        QCOMPARE(dialog.field()->selectedText(), QStringLiteral("2013-04-15"));
        QTest::keyClicks(dialog.field(), QStringLiteral("meeting"));
        QTest::keyClick(dialog.field(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.newName(), QStringLiteral("meeting"));

        // Cancel checks nothing.
        CRenameDlg cancelled(QStringLiteral("a"));
        cancelled.show();
        cancelled.field()->setText(QStringLiteral("a/b"));
        cancelled.cancelButton()->click();
        QCOMPARE(cancelled.result(), int(QDialog::Rejected));
        QVERIFY(messages.entries().isEmpty());
    }

private:
    QString sourcePath() const { return m_dir.filePath(QStringLiteral("from/rec01.mp3")); }
    QString destinationPath() const { return m_dir.filePath(QStringLiteral("to/rec01.mp3")); }

    QTemporaryDir m_dir;
    QByteArray m_sourceBytes;
};

TALVEN77_REGISTER_TEST(DialogsTest);

#include "DialogsTest.moc"
