#pragma once

#include "Mp3Encoder.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

// The 512-byte identification file of a recorder's card.
QByteArray DeviceDatBytes(uint16_t number);

// The audio format the recorder uses for each recording mode: 0 long-play
// (MPEG-2.5 8 kHz 8 kbit/s mono), 1 standard (MPEG-2 22.05 kHz 32 kbit/s mono),
// 2 high quality (MPEG-1 44.1 kHz 128 kbit/s stereo).
Mp3Format RecorderFormat(uint8_t mode);

// 60 s of the recorder's long-play speech, encoded once per process (the player tests'
// recording).
const QByteArray& MinuteOfRecorderAudio();

struct CardOptions
{
    QString folder;          // the card's root
    uint16_t number = 1;     // recorder number
    int recordings = 12;
    uint32_t seed = 77;
    QDateTime firstRecording; // default: 2026-11-02 09:15 local time
    // Longer recordings (15-45 s) of speech broken by pauses of 1.5-6 s, as a meeting's,
    // instead of a few seconds of speech.
    bool silences = false;
};

// Writes a card as the recorder does: "Device.Dat" on its root and recordings
// below "%03d_TALVEN-77" in dated folders (YYYYMM/DD), each a real MP3 with a
// recording header, a memo in Japanese, some marks and flags, and its recording
// time as its last-write time. Returns false with a reason in error.
bool MakeCard(const CardOptions& options, QString* error = nullptr);

// Clears the transferred flag of every recording below root (headers written in
// place, times kept); returns how many recordings there are, -1 when one failed.
int ClearTransferredFlags(const QString& root);
