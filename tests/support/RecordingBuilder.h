#pragma once

#include "recording/VoiceHeader.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>

// Recordings as the recorder writes them: an ID3v2 tag whose XPCC frame body is
// the recording header (frame sizes little-endian, as the recorder stores them),
// followed by the audio.

struct RawFrame
{
    QByteArray id;   // four bytes
    QByteArray body;
};

// A header with the given mode, memo (stored as CP932) and index marks; empty
// slots for the marks not given. Reserved bytes get a recognisable pattern so
// that tests see whether they survive.
tagVoiceHeader MakeVoiceHeader(uint8_t mode, const QString& memo = {},
                               const QList<uint32_t>& marks = {});

// The tag: "ID3" v2.3, the frames before the XPCC frame, the XPCC frame, padding.
QByteArray BuildVoiceTag(const tagVoiceHeader& header, const QList<RawFrame>& framesBefore = {},
                         int paddingBytes = 0);
QByteArray BuildFrame(const RawFrame& frame);

// A whole recording: the tag with the header, then the audio frames.
QByteArray BuildRecording(const tagVoiceHeader& header, const QByteArray& audio, int paddingBytes = 0);

// A short real MP3 (8 kHz, 8 kbit/s, mono, 2 s of speech-like sound), encoded once.
const QByteArray& ShortSpeechAudio();

// Writes bytes to a new file; with a valid time, sets it as the file's last-write time.
bool WriteFileBytes(const QString& path, const QByteArray& bytes, const QDateTime& time = {});
