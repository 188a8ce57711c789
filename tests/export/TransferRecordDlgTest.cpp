#include "TestRegistry.h"
#include "export/TransferRecordDlg.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QTableWidget>
#include <QTest>

namespace {

// Entries of a recorder whose folders lie deep, as a user's data folder does.
QList<TransferRecordEntry> deepEntries()
{
    const QString base = QStringLiteral("/home/someone/.local/share/Corvane/TALVEN-77-PC Player/demo");
    QList<TransferRecordEntry> entries;
    for (int i = 1; i <= 3; ++i) {
        TransferRecordEntry e;
        e.time = QDateTime(QDate(2026, 11, 2), QTime(9, 15 + i));
        e.recorderNumber = 1;
        e.source = base + QStringLiteral("/recorder/001_TALVEN-77/202611/02/REC%1.MP3").arg(i, 5, 10, QLatin1Char('0'));
        e.destination = base + QStringLiteral("/save/20261102/REC%1.MP3").arg(i, 5, 10, QLatin1Char('0'));
        e.size = 1234567 * i;
        e.verified = true;
        e.marked = i != 2;
        entries.append(e);
    }
    return entries;
}

} // namespace

class TransferRecordDlgTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every column is in sight at the dialog's own size: nothing to scroll to,
    // the short columns as wide as their texts, and the paths cut so that each
    // row's file name still shows; the whole paths are the cells' tooltips.
    void everyColumnFitsTheDialog()
    {
        const QList<TransferRecordEntry> entries = deepEntries();
        TransferRecordDlg dialog(entries);
        const QSize size = dialog.size();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.size(), size);
        QTableWidget* table = dialog.table();
        QCOMPARE(table->rowCount(), 3);

        QCOMPARE(table->horizontalScrollBar()->maximum(), 0);
        QVERIFY(table->horizontalHeader()->length() <= table->viewport()->width());
        const int margin = table->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1;
        const QFontMetrics metrics = table->fontMetrics();
        for (const int column : {TransferRecordDlg::kTime, TransferRecordDlg::kRecorder, TransferRecordDlg::kSize,
                                 TransferRecordDlg::kVerified, TransferRecordDlg::kMarked}) {
            for (int row = 0; row < table->rowCount(); ++row) {
                const QString text = table->item(row, column)->text();
                QVERIFY2(table->columnWidth(column) >= metrics.horizontalAdvance(text) + 2 * margin,
                         qPrintable(QStringLiteral("column %1: %2").arg(column).arg(text)));
            }
        }
        for (const int column : {TransferRecordDlg::kSource, TransferRecordDlg::kDestination}) {
            QSet<QString> shown;
            for (int row = 0; row < table->rowCount(); ++row) {
                const QTableWidgetItem* item = table->item(row, column);
                const QString path = column == TransferRecordDlg::kSource ? entries[row].source : entries[row].destination;
                QCOMPARE(item->toolTip(), path);
                const QString fileName = path.section(u'/', -1);
                const QString visible = metrics.elidedText(item->text(), table->textElideMode(),
                                                           table->columnWidth(column) - 2 * margin);
                QVERIFY2(visible.endsWith(fileName), qPrintable(visible));
                shown.insert(visible);
            }
            QCOMPARE(shown.size(), 3);
        }
    }
};

TALVEN77_REGISTER_TEST(TransferRecordDlgTest);
#include "TransferRecordDlgTest.moc"
