#pragma once

#include "platform/FileResult.h"
#include "recording/FileListRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The recording list as CSV (RFC 4180, CRLF line ends), UTF-8 with a byte-order mark so
// that spreadsheet programs set to Japanese open it as it is: a header row with the ten
// columns' titles, then one row per record in the order given, every column whatever
// the list shows, each text as the list shows it without its padding (the name and the
// memo exactly as they are, leading spaces too). A cell that begins with =, +, -, @, a
// tab or a line break gets a single quote in front, so that a spreadsheet never takes
// it for a formula; line breaks inside a cell are CR LF.
QByteArray RecordingListCsv(const QList<tagFileList>& records);

// Writes the CSV to path durably, replacing a file of that name (the save dialog has
// asked); nothing changes at path when it fails.
FileResult WriteRecordingListCsv(const QString& path, const QList<tagFileList>& records);
