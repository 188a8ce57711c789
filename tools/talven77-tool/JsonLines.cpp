#include "JsonLines.h"

#include "recording/FileListRecord.h"

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
    return {{QStringLiteral("szFileName"), record.szFileName},
            {QStringLiteral("szFilePath"), record.szFilePath},
            {QStringLiteral("tmCreate"), qint64(record.tmCreate)},
            {QStringLiteral("nDuration"), qint64(record.nDuration)},
            {QStringLiteral("nFileSize"), qint64(record.nFileSize)}};
}
