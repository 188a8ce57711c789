#pragma once

#include <QJsonObject>
#include <QString>

struct tagFileList;

// One JSON object per line on standard output.
void PrintJsonLine(const QJsonObject& object);
// An error for the user on standard error, prefixed with the tool's name.
void PrintError(const QString& text);
// One recording as scan and search print it.
QJsonObject RecordJson(const tagFileList& record);
