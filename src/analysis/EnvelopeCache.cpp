#include "EnvelopeCache.h"

#include "EnvelopeEntry.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Larger than the entry of any recording the program can play (ten hours take 7 MB).
constexpr qint64 kLargestEntry = qint64(1) << 31;

} // namespace

FileKey::FileKey(const FileStamp& stamp) : m_stamp(stamp)
{
    m_stamp.changedNs = 0;
}

std::optional<FileKey> FileKey::Of(const QString& path)
{
    FileStamp stamp;
    if (!FileStamp::OfRegularFile(QFile::encodeName(path), stamp))
        return std::nullopt;
    return FileKey(stamp);
}

EnvelopeCache::EnvelopeCache(QString folder) : m_folder(std::move(folder))
{
    if (m_folder.isEmpty())
        m_folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/envelopes");
}

QString EnvelopeCache::entryPath(const FileKey& key) const
{
    return m_folder + QStringLiteral("/%1-%2.env").arg(key.stamp().device, 0, 16).arg(key.stamp().inode, 0, 16);
}

std::optional<LevelEnvelope> EnvelopeCache::load(const FileKey& key) const
{
    const QString path = entryPath(key);
    // Without blocking, and only a regular file: a FIFO or a folder in an entry's place is no entry.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    std::optional<EnvelopeEntry> entry;
    // An entry far beyond any envelope's size is damaged: it is not read into memory.
    if (st.st_size <= kLargestEntry)
        entry = DecodeEnvelopeEntry(file.readAll());
    file.close();
    if (!entry || entry->key != key) {
        // Damaged, of another format, or of a version of the recording that is gone:
        // of no use to anyone. The envelope is computed again and stored in its place.
        QFile::remove(path);
        return std::nullopt;
    }
    return std::move(entry->envelope);
}

bool EnvelopeCache::store(const FileKey& key, const LevelEnvelope& envelope) const
{
    if (!QDir().mkpath(m_folder))
        return false;
    const QByteArray bytes = EncodeEnvelopeEntry(key, envelope);
    // Written whole under a temporary name and renamed: a reader sees the old entry or the new one.
    QSaveFile file(entryPath(key));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
