#pragma once

#include "recording/FileStamp.h"

#include <QString>
#include <optional>

// What spares a process the check of the whole index file at open: the stamp of the file
// as it was when a check found it sound, kept beside it. While the file keeps that stamp
// and its write-ahead log holds nothing, nothing has written to it since, and the check
// would read every page to tell what it told then. Any write moves the stamp, and the
// next process checks again.

// The index file's stamp, when its write-ahead log is absent or empty; none else, or
// when the file cannot be looked at.
std::optional<FileStamp> QuietIndexStamp(const QString& indexFile);
// Whether the mark beside the index file names this stamp.
bool FoundSoundAt(const QString& indexFile, const FileStamp& stamp);
// Marks the stamp as found sound; a mark that cannot be written only misses.
void MarkFoundSound(const QString& indexFile, const FileStamp& stamp);
