#include "RecordingListCsv.h"

#include "platform/DurableCopy.h"
#include "recording/RecordingColumns.h"

#include <QFileInfo>

namespace {

// A cell a spreadsheet would take for a formula (or that starts with a control
// character some take so) gets a single quote in front, as the usual advice on CSV
// files has it; the quote shows in the cell.
bool looksLikeFormula(const QString& text)
{
    if (text.isEmpty())
        return false;
    switch (text.front().unicode()) {
    case u'=':
    case u'+':
    case u'-':
    case u'@':
    case u'\t':
    case u'\r':
    case u'\n':
        return true;
    default:
        return false;
    }
}

// Every line break inside a cell as CR LF, the line end of the rows.
QString withCrLf(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            out += QStringLiteral("\r\n");
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray field(QString text)
{
    const bool guard = looksLikeFormula(text);
    if (guard)
        text.prepend(u'\'');
    QByteArray bytes = withCrLf(text).toUtf8();
    // Quoted also where white space begins or ends the cell, so that no reader drops it.
    const bool blankEdge = !text.isEmpty() && (text.front().isSpace() || text.back().isSpace());
    if (guard || blankEdge || bytes.contains(',') || bytes.contains('"') || bytes.contains('\n')
        || bytes.contains('\r')) {
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

// The name and the memo are the user's own texts, kept as they are; the other columns
// lose the padding that lines them up in the list.
QString cellText(int key, const QString& text)
{
    return key == kKeyName || key == kKeyMemo ? text : text.trimmed();
}

} // namespace

QByteArray RecordingListCsv(const QList<tagFileList>& records)
{
    QByteArray csv("\xEF\xBB\xBF");
    QStringList header;
    for (int key = 0; key < kColumnKeys; ++key)
        header.append(ColumnHeaderText(key).trimmed());
    csv += row(header);
    for (const tagFileList& record : records) {
        const RowTexts texts = RecordRowTexts(record);
        QStringList cells;
        for (int key = 0; key < kColumnKeys; ++key)
            cells.append(cellText(key, texts[size_t(key)]));
        csv += row(cells);
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
