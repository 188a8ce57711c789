#include "TransferRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace {

QJsonObject toJson(const TransferRecordEntry& entry)
{
    return QJsonObject{{QStringLiteral("time"), entry.time.toUTC().toString(Qt::ISODate)},
                       {QStringLiteral("recorder"), entry.recorderNumber},
                       {QStringLiteral("source"), entry.source},
                       {QStringLiteral("destination"), entry.destination},
                       {QStringLiteral("size"), double(entry.size)},
                       {QStringLiteral("verified"), entry.verified},
                       {QStringLiteral("marked"), entry.marked}};
}

bool fromJson(const QByteArray& line, TransferRecordEntry& entry)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject o = document.object();
    entry.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODate).toLocalTime();
    entry.recorderNumber = o.value(QStringLiteral("recorder")).toInt();
    entry.source = o.value(QStringLiteral("source")).toString();
    entry.destination = o.value(QStringLiteral("destination")).toString();
    entry.size = int64_t(o.value(QStringLiteral("size")).toDouble());
    entry.verified = o.value(QStringLiteral("verified")).toBool();
    entry.marked = o.value(QStringLiteral("marked")).toBool();
    return entry.time.isValid() && !entry.destination.isEmpty();
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
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // A line cut short earlier (a crash in the middle of a write) must not swallow the
    // first new one: it starts on a line of its own.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    if (end > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, end - 1) == 1 && last != '\n')
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

QList<TransferRecordEntry> TransferRecord::ReadAll()
{
    QFile file(FilePath());
    QList<TransferRecordEntry> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : file.readAll().split('\n')) {
        TransferRecordEntry entry;
        if (!line.trimmed().isEmpty() && fromJson(line, entry))
            entries.append(entry);
    }
    std::reverse(entries.begin(), entries.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TransferRecordEntry& a, const TransferRecordEntry& b) { return a.time > b.time; });
    return entries;
}

QString TransferSummaryText(int count)
{
    return QStringLiteral("%1件のファイルを転送しました").arg(count);
}
