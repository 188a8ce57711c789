#pragma once

#include "EnvelopeCache.h"
#include "LevelEnvelope.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

// One entry of the envelope cache as bytes: a fixed header (the file's key, the
// envelope's sample rate and frame count, the size of its levels) and the levels,
// the whole under one checksum.
struct EnvelopeEntry
{
    FileKey key;
    LevelEnvelope envelope;
};

QByteArray EncodeEnvelopeEntry(const FileKey& key, const LevelEnvelope& envelope);

// nullopt unless the bytes are one whole entry of this format whose checksum holds and
// whose every field is one the analysis can give: a sample rate of an audio stream,
// levels in whole buckets, and as many buckets as the frame count fills.
std::optional<EnvelopeEntry> DecodeEnvelopeEntry(QByteArrayView bytes);
