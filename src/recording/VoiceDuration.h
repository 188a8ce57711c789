#pragma once

#include <QString>
#include <cstdint>

class RecordingFile;

// Set when there is no audio output to play to (the playback engine finds
// out); cleared by the list's refresh. Lengths never depend on it: they are
// read from the files' frames.
extern bool g_bNoAudioOutput;

// Length of a recording in whole seconds, 0 when the file cannot be read as
// MPEG audio.
uint32_t GetVoiceDuration(const QString& path);

// The same figure for an open file: the audio after the ID3v2 tag(s) is
// measured in whole frames from the Xing, Info or VBRI frame count, else by the
// constant-bitrate arithmetic of the audio bytes. Reads only the file's start.
uint32_t MeasureMp3Duration(RecordingFile& file);
// The length as a gapless decoder gives it, to the microsecond: every sample of every
// frame, less the encoder's delay and padding where an Info frame's extension names them;
// 0 when the file is no MPEG audio.
int64_t MeasureMp3Microseconds(RecordingFile& file);
// Where the audio starts: the position after the ID3v2 tag(s) at the file's
// start. What follows is the same whatever the tag holds.
int64_t AudioStart(RecordingFile& file);
