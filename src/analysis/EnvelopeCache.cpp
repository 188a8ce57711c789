#include "EnvelopeCache.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstring>
#include <sys/stat.h>

namespace {

constexpr char kMagic[8] = {'T', '7', '7', 'L', 'E', 'V', 'E', 'L'};
constexpr uint32_t kFormatVersion = 1;

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

// FNV-1a over the levels: a torn or damaged entry is found and recomputed.
uint64_t checksumOf(const uint8_t* bytes, size_t length)
{
    uint64_t hash = 1469598103934665603ull;
    for (size_t i = 0; i < length; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

} // namespace

std::optional<FileKey> FileKey::Of(const QString& path)
{
    struct stat st{};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileKey{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size), int64_t(st.st_mtim.tv_sec),
                   int64_t(st.st_mtim.tv_nsec)};
}

EnvelopeCache::EnvelopeCache(QString folder) : m_folder(std::move(folder))
{
    if (m_folder.isEmpty())
        m_folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/envelopes");
}

QString EnvelopeCache::entryPath(const FileKey& key) const
{
    return m_folder + QStringLiteral("/%1-%2.env").arg(key.device, 0, 16).arg(key.inode, 0, 16);
}

std::optional<LevelEnvelope> EnvelopeCache::load(const FileKey& key) const
{
    QFile file(entryPath(key));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    EntryHeader header{};
    if (file.read(reinterpret_cast<char*>(&header), sizeof header) != qint64(sizeof header)
        || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kFormatVersion
        || header.bucketMilliseconds != LevelEnvelope::kBucketMilliseconds)
        return std::nullopt;
    const FileKey stored{header.device, header.inode, header.size, header.modifiedSeconds, header.modifiedNanoseconds};
    if (stored != key) {
        // The recording changed since: its old envelope is of no use to anyone.
        file.close();
        QFile::remove(entryPath(key));
        return std::nullopt;
    }
    if (header.levelBytes % 2 != 0 || qint64(header.levelBytes) != file.size() - qint64(sizeof header)
        || header.sampleRate <= 0 || header.frames < 0)
        return std::nullopt;
    LevelEnvelope envelope;
    envelope.sampleRate = int(header.sampleRate);
    envelope.frames = header.frames;
    envelope.levels.resize(size_t(header.levelBytes));
    if (file.read(reinterpret_cast<char*>(envelope.levels.data()), qint64(header.levelBytes))
            != qint64(header.levelBytes)
        || checksumOf(envelope.levels.data(), envelope.levels.size()) != header.checksum)
        return std::nullopt;
    return envelope;
}

bool EnvelopeCache::store(const FileKey& key, const LevelEnvelope& envelope) const
{
    if (!QDir().mkpath(m_folder))
        return false;
    EntryHeader header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kFormatVersion;
    header.bucketMilliseconds = LevelEnvelope::kBucketMilliseconds;
    header.device = key.device;
    header.inode = key.inode;
    header.size = key.size;
    header.modifiedSeconds = key.modifiedSeconds;
    header.modifiedNanoseconds = key.modifiedNanoseconds;
    header.sampleRate = envelope.sampleRate;
    header.frames = envelope.frames;
    header.levelBytes = envelope.levels.size();
    header.checksum = checksumOf(envelope.levels.data(), envelope.levels.size());
    // Written whole under a temporary name and renamed: a reader sees the old entry or the new one.
    QSaveFile file(entryPath(key));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(reinterpret_cast<const char*>(&header), sizeof header) != qint64(sizeof header)
        || file.write(reinterpret_cast<const char*>(envelope.levels.data()), qint64(envelope.levels.size()))
               != qint64(envelope.levels.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
