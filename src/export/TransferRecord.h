#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>

// One recording brought from the recorder or its card into the save folder.
struct TransferRecordEntry
{
    QDateTime time;
    int recorderNumber = 0; // 0 when the recorder's identification could not be read
    QString source;
    QString destination;
    int64_t size = 0;
    bool verified = false; // the copy was read back from the device and found whole
    bool marked = false;   // the recorder's file carries the transferred flag now
};

// The transfer record, kept per user in the application's data folder
// (QStandardPaths::AppDataLocation, "transfer-record.jsonl", one JSON object a line).
// Appends are synced; a line that cannot be read (a damaged file, a line cut short by a
// crash) is passed over.
class TransferRecord
{
public:
    static QString FilePath();
    // False when the record could not be written (the transfer itself stands).
    static bool Append(const QList<TransferRecordEntry>& entries);
    // Every entry, newest first.
    static QList<TransferRecordEntry> ReadAll();
};

// The entries of a record's bytes in the order of their lines; a line that cannot
// be read is passed over.
QList<TransferRecordEntry> ParseTransferRecord(QByteArrayView bytes);

// The status bar's words for a transfer of count recordings, and the desktop
// notification's.
QString TransferSummaryText(int count);
