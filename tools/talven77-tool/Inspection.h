#pragma once

#include "recording/VoiceHeader.h"

#include <QJsonObject>
#include <QString>
#include <cstdint>

// What inspect prints for one file (a JSON line): its path, whether a recording
// header was found, and either the header's fields and the duration or the reason
// ("error") why not. found tells the same as the object's "found".
QByteArray InspectRecording(const QString& path, bool& found);

// The line for a file whose header was read, the same whichever command prints it:
// "path", "name" (the file's name), "found" (true), the header's fields ("mode",
// "playedFlag", "protectFlag", "transferredFlag" as numbers, "indexMarks" with null for
// an empty slot, "memo"), "duration" (whole seconds), "size" (bytes) and "created" (the
// recording's start, IsoLocalTime).
QByteArray RecordingLine(const QString& path, const tagVoiceHeader& header, uint32_t duration, int64_t size,
                         int64_t created);
// Why a file is no recording to inspect or edit: its open failed (file is not
// open), or the header walk ended as lookup says.
QString NotARecordingText(const RecordingFile& file, VoiceHeaderLookup lookup);
