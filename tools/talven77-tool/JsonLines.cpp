#include "JsonLines.h"

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
