#include "RecordingListCsv.h"

#include "view/RecordingColumns.h"

#include <QFileInfo>

namespace {

QByteArray field(const QString& text)
{
    QByteArray bytes = text.trimmed().toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r')) {
        bytes.replace('"', "\"\"");
        bytes = '"' + bytes + '"';
    }
    return bytes;
}

QByteArray row(const QStringList& texts)
{
    QByteArray line;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            line += ',';
        line += field(texts[i]);
    }
    return line + "\r\n";
}

} // namespace

QByteArray RecordingListCsv(const QList<tagFileList>& records)
{
    QByteArray csv("\xEF\xBB\xBF");
    QStringList header;
    for (int key = 0; key < kColumnKeys; ++key)
        header.append(ColumnHeaderText(key));
    csv += row(header);
    for (const tagFileList& record : records) {
        const RowTexts texts = RecordRowTexts(record);
        csv += row(QStringList(texts.begin(), texts.end()));
    }
    return csv;
}

FileResult WriteRecordingListCsv(const QString& path, const QList<tagFileList>& records)
{
    const QFileInfo info(path);
    DurableNewFile out;
    FileResult step = out.create(info.absolutePath());
    const QByteArray csv = RecordingListCsv(records);
    if (step.ok())
        step = out.write(csv.constData(), size_t(csv.size()));
    if (step.ok())
        step = out.commit(info.fileName(), DurableNewFile::Replace::Yes);
    return step;
}
