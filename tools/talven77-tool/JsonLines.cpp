#include "JsonLines.h"

#include "Inspection.h"
#include "recording/FileListRecord.h"

#include <QDateTime>
#include <QJsonDocument>
#include <cstdio>

void PrintJsonLine(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "talven77-tool: %s\n", qPrintable(text));
}

QJsonObject RecordJson(const tagFileList& record)
{
    return RecordingObject(record.szFilePath, record.header, record.nDuration, record.nFileSize, record.tmCreate);
}

QString IsoLocalTime(int64_t seconds)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QString IsoLocalDate(int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate);
}

QString PrintablePath(const QByteArray& nativePath)
{
    QString text;
    qsizetype i = 0;
    while (i < nativePath.size()) {
        const uchar lead = uchar(nativePath[i]);
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        const QByteArray sequence = nativePath.mid(i, length);
        const QString decoded = QString::fromUtf8(sequence);
        if (length > 0 && sequence.size() == length && decoded.toUtf8() == sequence) {
            text += decoded;
            i += length;
        } else {
            text += QString::asprintf("\\x%02X", unsigned(lead));
            ++i;
        }
    }
    return text;
}

bool ReportUndecodableNames(const QList<QByteArray>& nativePaths)
{
    for (const QByteArray& path : nativePaths)
        PrintError(QStringLiteral("%1: left out: the name is not valid in the file-name encoding (UTF-8)")
                       .arg(PrintablePath(path)));
    return nativePaths.isEmpty();
}
