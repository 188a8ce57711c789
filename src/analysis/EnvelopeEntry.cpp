#include "EnvelopeEntry.h"

#include <cstring>

namespace {

constexpr char kMagic[8] = {'T', '7', '7', 'L', 'E', 'V', 'E', 'L'};
// 2: the checksum covers the header as well as the levels.
constexpr uint32_t kFormatVersion = 2;
// Beyond the rates of any audio stream the decoder reads.
constexpr int64_t kLowestSampleRate = 1000;
constexpr int64_t kHighestSampleRate = 192000;
// Ten hours take 7 MB; anything near this is no envelope of a recording.
constexpr uint64_t kMostLevelBytes = uint64_t(1) << 31;

struct EntryHeader
{
    char magic[8];
    uint32_t version;
    uint32_t bucketMilliseconds;
    uint64_t device;
    uint64_t inode;
    int64_t size;
    int64_t modifiedSeconds;
    int64_t modifiedNanoseconds;
    int64_t sampleRate;
    int64_t frames;
    uint64_t levelBytes;
    uint64_t checksum;
};
static_assert(sizeof(EntryHeader) == 88, "the header is written as it lies in memory, without padding");

// FNV-1a, over the header (its checksum field as zero) and then the levels.
uint64_t checksumOf(const EntryHeader& header, const uint8_t* levels, size_t length)
{
    EntryHeader unsummed = header;
    unsummed.checksum = 0;
    uint64_t hash = 1469598103934665603ull;
    const auto add = [&hash](const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            hash ^= bytes[i];
            hash *= 1099511628211ull;
        }
    };
    add(reinterpret_cast<const uint8_t*>(&unsummed), sizeof unsummed);
    add(levels, length);
    return hash;
}

// The buckets that frames at a rate fill, as the accumulator closes them: bucket b
// ends at frame (b + 1) * rate / 100, and a last, partial one is closed too.
int64_t bucketsFor(int64_t frames, int64_t sampleRate)
{
    return (frames * (1000 / LevelEnvelope::kBucketMilliseconds) + sampleRate - 1) / sampleRate;
}

// The last-write time lies in an entry as the file system gives it: whole seconds
// (before 1970 negative) and the nanoseconds after them.
constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;

void putModified(EntryHeader& header, int64_t modifiedNs)
{
    header.modifiedSeconds = modifiedNs / kNanosecondsPerSecond;
    header.modifiedNanoseconds = modifiedNs % kNanosecondsPerSecond;
    if (header.modifiedNanoseconds < 0) {
        header.modifiedSeconds -= 1;
        header.modifiedNanoseconds += kNanosecondsPerSecond;
    }
}

// false for a time no file can have: nanoseconds outside a second, or seconds whose
// nanoseconds leave the range of the stamp.
bool takeModified(const EntryHeader& header, int64_t& modifiedNs)
{
    if (header.modifiedNanoseconds < 0 || header.modifiedNanoseconds >= kNanosecondsPerSecond)
        return false;
    int64_t whole = 0;
    return !__builtin_mul_overflow(header.modifiedSeconds, kNanosecondsPerSecond, &whole)
           && !__builtin_add_overflow(whole, header.modifiedNanoseconds, &modifiedNs);
}

} // namespace

QByteArray EncodeEnvelopeEntry(const FileKey& key, const LevelEnvelope& envelope)
{
    EntryHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kFormatVersion;
    header.bucketMilliseconds = LevelEnvelope::kBucketMilliseconds;
    header.device = key.stamp().device;
    header.inode = key.stamp().inode;
    header.size = key.stamp().size;
    putModified(header, key.stamp().modifiedNs);
    header.sampleRate = envelope.sampleRate;
    header.frames = envelope.frames;
    header.levelBytes = envelope.levels.size();
    header.checksum = checksumOf(header, envelope.levels.data(), envelope.levels.size());
    QByteArray bytes(qsizetype(sizeof header), Qt::Uninitialized);
    std::memcpy(bytes.data(), &header, sizeof header);
    bytes.append(reinterpret_cast<const char*>(envelope.levels.data()), qsizetype(envelope.levels.size()));
    return bytes;
}

std::optional<EnvelopeEntry> DecodeEnvelopeEntry(QByteArrayView bytes)
{
    EntryHeader header{};
    if (size_t(bytes.size()) < sizeof header)
        return std::nullopt;
    std::memcpy(&header, bytes.data(), sizeof header);
    const uint64_t levelBytes = uint64_t(bytes.size()) - sizeof header;
    if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kFormatVersion
        || header.bucketMilliseconds != LevelEnvelope::kBucketMilliseconds || header.levelBytes != levelBytes
        || levelBytes % 2 != 0 || levelBytes > kMostLevelBytes || header.sampleRate < kLowestSampleRate
        || header.sampleRate > kHighestSampleRate || header.frames < 0)
        return std::nullopt;
    const auto* levels = reinterpret_cast<const uint8_t*>(bytes.data()) + sizeof header;
    FileStamp stamp{header.device, header.inode, header.size, 0, 0};
    if (checksumOf(header, levels, size_t(levelBytes)) != header.checksum || !takeModified(header, stamp.modifiedNs))
        return std::nullopt;
    // The frame count must fill exactly the buckets of the levels (compared with what
    // they can hold first, so that no product of a stray count overflows).
    const int64_t buckets = int64_t(levelBytes / 2);
    const int64_t mostFrames = buckets * header.sampleRate * LevelEnvelope::kBucketMilliseconds / 1000;
    if (header.frames > mostFrames || bucketsFor(header.frames, header.sampleRate) != buckets)
        return std::nullopt;
    EnvelopeEntry entry;
    entry.key = FileKey(stamp);
    entry.envelope.sampleRate = int(header.sampleRate);
    entry.envelope.frames = header.frames;
    entry.envelope.levels.assign(levels, levels + levelBytes);
    return entry;
}
