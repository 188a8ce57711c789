#pragma once

#include "RecordingExport.h"
#include "recording/FileListRecord.h"

#include <QList>
#include <optional>

class QWidget;

// The window's export commands: the recordings (and a section of one) into a folder,
// the list as CSV, and the transfer record shown.
namespace ExportCommands {

// section: the control panel's section when one recording is selected and loaded.
void ExportRecordings(QWidget* parent, const QList<tagFileList>& records, std::optional<ExportSpan> section);
void ExportList(QWidget* parent, const QList<tagFileList>& records);
void ShowTransferRecord(QWidget* parent);

} // namespace ExportCommands
