#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

struct tagFileList;

// One JSON object per line on standard output.
void PrintJsonLine(const QJsonObject& object);
// The same for a line already written as JSON (without its line end).
void PrintJsonLine(const QByteArray& line);

// Writes one JSON object as QJsonDocument's compact form writes it, byte for byte,
// without building the object first: the caller gives the fields in the order of
// their names, as a QJsonObject keeps them.
class JsonLineWriter
{
public:
    JsonLineWriter() { m_line.reserve(512); m_line.append('{'); }
    void field(const char* name, const QString& text);
    void field(const char* name, qint64 number);
    void field(const char* name, bool value);
    void nullField(const char* name);
    // An array of numbers; the entries without a value are null.
    void field(const char* name, const QList<std::optional<qint64>>& numbers);
    // The object's text; the writer is done with it.
    QByteArray finish();

private:
    void name(const char* name);
    void string(const QString& text);
    void number(qint64 value);
    QByteArray m_line;
};
// An error for the user on standard error, prefixed with the tool's name.
void PrintError(const QString& text);
// One recording as scan and search print it: the line inspect prints for its file.
QByteArray RecordJsonLine(const tagFileList& record);
// A time (seconds since 1970) in ISO 8601 as local time with its offset,
// "2026-11-02T09:15:00+09:00"; a date of it as "2026-11-02".
QString IsoLocalTime(int64_t seconds);
QString IsoLocalDate(int64_t seconds);
// A native path as text for the user: bytes that are no valid UTF-8 shown as \xNN.
QString PrintablePath(const QByteArray& nativePath);
// Tells on standard error of each entry left out because its name is not valid in the
// file-name encoding; true when there was none.
bool ReportUndecodableNames(const QList<QByteArray>& nativePaths);
