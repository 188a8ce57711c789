#include "TransferRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QJsonObject toJson(const TransferRecordEntry& entry)
{
    return QJsonObject{{QStringLiteral("time"), entry.time.toUTC().toString(Qt::ISODate)},
                       {QStringLiteral("recorder"), entry.recorderNumber},
                       {QStringLiteral("source"), entry.source},
                       {QStringLiteral("destination"), entry.destination},
                       {QStringLiteral("size"), qint64(entry.size)},
                       {QStringLiteral("verified"), entry.verified},
                       {QStringLiteral("marked"), entry.marked}};
}

bool fromJson(QByteArrayView line, TransferRecordEntry& entry)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject o = document.object();
    entry.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODate).toLocalTime();
    entry.recorderNumber = o.value(QStringLiteral("recorder")).toInt();
    entry.source = o.value(QStringLiteral("source")).toString();
    entry.destination = o.value(QStringLiteral("destination")).toString();
    // A size is a whole number of bytes that a 64-bit count holds; anything else
    // (1e300, -4, 12.5, text) was never written by the program.
    entry.size = o.value(QStringLiteral("size")).toInteger(-1);
    entry.verified = o.value(QStringLiteral("verified")).toBool();
    entry.marked = o.value(QStringLiteral("marked")).toBool();
    return entry.time.isValid() && !entry.destination.isEmpty() && entry.size >= 0;
}

} // namespace

QString TransferRecord::FilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
           + QStringLiteral("/transfer-record.jsonl");
}

bool TransferRecord::Append(const QList<TransferRecordEntry>& entries)
{
    if (entries.isEmpty())
        return true;
    const QString path = FilePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QByteArray lines;
    for (const TransferRecordEntry& entry : entries)
        lines += QJsonDocument(toJson(entry)).toJson(QJsonDocument::Compact) + '\n';
    // Read as well as written: the last byte is looked at below. Never blocking, and
    // only a regular file (a FIFO or a device in its place is no record).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK,
                          0600);
    if (fd < 0)
        return false;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // A line cut short earlier (a crash in the middle of a write) must not swallow the
    // first new one: it starts on a line of its own.
    if (st.st_size > 0) {
        char last = 0;
        const ssize_t got = ::pread(fd, &last, 1, st.st_size - 1);
        if (got != 1) {
            ::close(fd);
            return false;
        }
        if (last != '\n')
            lines.prepend('\n');
    }
    qsizetype written = 0;
    while (written < lines.size()) {
        const ssize_t n = ::write(fd, lines.constData() + written, size_t(lines.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool ok = written == lines.size() && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

QList<TransferRecordEntry> ParseTransferRecord(QByteArrayView bytes)
{
    QList<TransferRecordEntry> entries;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf('\n');
        const QByteArrayView line = end < 0 ? bytes : bytes.first(end);
        bytes = end < 0 ? QByteArrayView() : bytes.sliced(end + 1);
        TransferRecordEntry entry;
        if (!line.trimmed().isEmpty() && fromJson(line, entry))
            entries.append(entry);
    }
    return entries;
}

QList<TransferRecordEntry> TransferRecord::ReadAll()
{
    QList<TransferRecordEntry> entries;
    const int fd = ::open(QFile::encodeName(FilePath()).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return entries;
    QFile file;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        return entries;
    }
    entries = ParseTransferRecord(file.readAll());
    std::reverse(entries.begin(), entries.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TransferRecordEntry& a, const TransferRecordEntry& b) { return a.time > b.time; });
    return entries;
}

QString TransferSummaryText(int count)
{
    return QStringLiteral("%1件のファイルを転送しました").arg(count);
}
