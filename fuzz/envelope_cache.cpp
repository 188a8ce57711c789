// A waveform cache entry as the store finds it: the bytes are the entry file. The key
// the entry is looked up by is the one its own header names, so that the fields after
// the key are reached; the same entry is then looked up by another key, which removes it.
// What the cache gives is used as the strip and the silence search use it.
#include "FuzzSupport.h"
#include "analysis/EnvelopeCache.h"
#include "analysis/Silences.h"

#include <QDir>
#include <QFile>
#include <cstring>

namespace {

template <typename T>
T fieldAt(const uint8_t* data, size_t size, size_t offset)
{
    T value{};
    if (offset + sizeof value <= size)
        std::memcpy(&value, data + offset, sizeof value);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const EnvelopeCache cache(FuzzScratchFolder() + QStringLiteral("/envelopes"));
    // The key's place in an entry: after the magic (8 bytes), the version and the bucket length.
    // The last-write time lies there as seconds and the nanoseconds after them.
    const uint64_t modifiedNs = fieldAt<uint64_t>(data, size, 40) * 1'000'000'000u + fieldAt<uint64_t>(data, size, 48);
    const FileKey key(FileStamp{fieldAt<uint64_t>(data, size, 16), fieldAt<uint64_t>(data, size, 24),
                                fieldAt<int64_t>(data, size, 32), int64_t(modifiedNs), 0});
    static const bool folderMade = QDir().mkpath(cache.folder());
    FUZZ_CHECK(folderMade);
    const QString entry = cache.entryPath(key);
    {
        QFile file(entry);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly) && file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    if (const std::optional<LevelEnvelope> envelope = cache.load(key)) {
        FUZZ_CHECK(envelope->sampleRate > 0 && envelope->frames >= 0);
        FUZZ_CHECK(envelope->durationMilliseconds() >= 0);
        FUZZ_CHECK(size_t(envelope->buckets()) * 2 == envelope->levels.size());
        NoiseFloorCode(*envelope);
        const std::vector<Silence> silences = FindSilences(*envelope, SilenceOptions{});
        for (const Silence& silence : silences)
            FUZZ_CHECK(0 <= silence.startMilliseconds && silence.startMilliseconds < silence.endMilliseconds);
        SilenceBoundaries(silences, 300);
        // What was stored is given back as it was.
        FUZZ_CHECK(cache.store(key, *envelope));
        const std::optional<LevelEnvelope> again = cache.load(key);
        FUZZ_CHECK(again && again->levels == envelope->levels && again->frames == envelope->frames
                   && again->sampleRate == envelope->sampleRate);
    }
    // The entry of another version of the file is of no use: it goes.
    FileStamp other = key.stamp();
    other.size ^= 1;
    FUZZ_CHECK(!cache.load(FileKey(other)));
    QFile::remove(entry);
    return 0;
}
