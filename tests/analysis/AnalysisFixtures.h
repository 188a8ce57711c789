#pragma once

#include "Mp3Encoder.h"
#include "analysis/LevelEnvelope.h"

#include <QList>
#include <QString>
#include <vector>

// Speech-like bursts and silences at known places, as a recording with a header
// (8 kHz long-play audio); false when the encoder or the write failed.
bool WriteSpansRecording(const QString& path, const std::vector<SignalSpan>& spans, uint32_t seed = 5,
                         const QList<uint32_t>& marks = {});
// A recording of about the given minutes: one encoded stretch of speech and
// silence repeated, quick to make however long it is.
bool WriteLongRecording(const QString& path, int minutes);
// The envelope of a file, computed at once (an empty one when it cannot be read).
LevelEnvelope EnvelopeOf(const QString& path);
