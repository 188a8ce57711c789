#pragma once

#include <QJsonObject>
#include <QString>

// One JSON object per line on standard output.
void PrintJsonLine(const QJsonObject& object);
// An error for the user on standard error, prefixed with the tool's name.
void PrintError(const QString& text);
