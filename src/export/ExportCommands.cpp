#include "ExportCommands.h"

#include "ExportDlg.h"
#include "RecordingListCsv.h"
#include "TransferRecord.h"
#include "TransferRecordDlg.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QProgressDialog>

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
    TransferRecordDlg dialog(TransferRecord::ReadAll(), parent);
    dialog.exec();
}

} // namespace ExportCommands
