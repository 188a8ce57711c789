#include "ExportCommands.h"

#include "ExportDlg.h"
#include "RecordingListCsv.h"
#include "TransferRecord.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace ExportCommands {

void ExportRecordings(QWidget* parent, const QList<tagFileList>& records, std::optional<ExportSpan> section)
{
    if (records.isEmpty())
        return;
    ExportDlg dialog(int(records.size()), records.size() == 1 ? section : std::nullopt, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ExportOptions options = dialog.options();
    QProgressDialog progress(QStringLiteral("書き出しています..."), QStringLiteral("キャンセル"), 0,
                             int(records.size()) * 1000, parent);
    progress.setWindowTitle(QStringLiteral("書き出し"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QStringList failures;
    int written = 0;
    for (qsizetype i = 0; i < records.size(); ++i) {
        progress.setLabelText(QStringLiteral("書き出しています... ( %1 / %2 )\n%3")
                                  .arg(i + 1).arg(records.size()).arg(records[i].szFileName));
        const ExportResult result = ExportRecording(records[i].szFilePath, dialog.folder(), options,
                                                    [&](int64_t done, int64_t total) {
                                                        const int part = total > 0 ? int(done * 1000 / total) : 0;
                                                        progress.setValue(int(i) * 1000 + std::min(part, 999));
                                                        QApplication::processEvents();
                                                        return !progress.wasCanceled();
                                                    });
        if (result.cancelled)
            break;
        if (result.ok)
            ++written;
        else
            failures.append(records[i].szFileName + u'\n' + result.error);
    }
    progress.reset();
    if (!failures.isEmpty())
        ShowMessage(failures.join(QStringLiteral("\n\n")), MessageIcon::Error);
    else if (written > 0)
        ShowMessage(QStringLiteral("%1件のファイルを書き出しました。").arg(written), MessageIcon::Information);
}

void ExportList(QWidget* parent, const QList<tagFileList>& records)
{
    const QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("一覧を書き出し"),
                                                      QDir::home().filePath(QStringLiteral("録音一覧.csv")),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    const FileResult written = WriteRecordingListCsv(path, records);
    if (!written.ok())
        ShowMessage(written.message(), MessageIcon::Error);
}

void ShowTransferRecord(QWidget* parent)
{
    const QList<TransferRecordEntry> entries = TransferRecord::ReadAll();
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("転送履歴"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* table = new QTableWidget(int(entries.size()), 7, &dialog);
    table->setHorizontalHeaderLabels({QStringLiteral("日時"), QStringLiteral("装置番号"), QStringLiteral("転送元"),
                                      QStringLiteral("転送先"), QStringLiteral("サイズ"), QStringLiteral("照合"),
                                      QStringLiteral("転送済み")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    const QLocale locale(QLocale::Japanese);
    for (int row = 0; row < int(entries.size()); ++row) {
        const TransferRecordEntry& e = entries[row];
        const QStringList texts{e.time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                                e.recorderNumber > 0 ? QStringLiteral("%1").arg(e.recorderNumber, 3, 10, QLatin1Char('0')) : QString(),
                                e.source, e.destination, locale.toString(qlonglong(e.size)),
                                e.verified ? QStringLiteral("済") : QStringLiteral("-"),
                                e.marked ? QStringLiteral("済") : QStringLiteral("-")};
        for (int column = 0; column < texts.size(); ++column)
            table->setItem(row, column, new QTableWidgetItem(texts[column]));
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(900, 400);
    dialog.exec();
}

} // namespace ExportCommands
