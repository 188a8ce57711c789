#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <cstdint>

struct tagFileList;

// One JSON object per line on standard output.
void PrintJsonLine(const QJsonObject& object);
// An error for the user on standard error, prefixed with the tool's name.
void PrintError(const QString& text);
// One recording as scan and search print it: the object inspect prints for its file.
QJsonObject RecordJson(const tagFileList& record);
// A time (seconds since 1970) in ISO 8601 as local time with its offset,
// "2026-11-02T09:15:00+09:00"; a date of it as "2026-11-02".
QString IsoLocalTime(int64_t seconds);
QString IsoLocalDate(int64_t seconds);
// A native path as text for the user: bytes that are no valid UTF-8 shown as \xNN.
QString PrintablePath(const QByteArray& nativePath);
// Tells on standard error of each entry left out because its name is not valid in the
// file-name encoding; true when there was none.
bool ReportUndecodableNames(const QList<QByteArray>& nativePaths);
