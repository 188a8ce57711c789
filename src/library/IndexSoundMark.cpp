#include "IndexSoundMark.h"

#include <QFile>
#include <QSaveFile>
#include <sys/stat.h>

namespace {

QString markFile(const QString& indexFile)
{
    return indexFile + QStringLiteral("-checked");
}

QByteArray markText(const FileStamp& stamp)
{
    return QByteArray::number(qulonglong(stamp.device)) + ' ' + QByteArray::number(qulonglong(stamp.inode)) + ' '
        + QByteArray::number(qlonglong(stamp.size)) + ' ' + QByteArray::number(qlonglong(stamp.modifiedNs)) + ' '
        + QByteArray::number(qlonglong(stamp.changedNs)) + '\n';
}

} // namespace

std::optional<FileStamp> QuietIndexStamp(const QString& indexFile)
{
    struct stat log {};
    if (::stat(QFile::encodeName(indexFile + QStringLiteral("-wal")).constData(), &log) == 0 && log.st_size > 0)
        return std::nullopt;
    FileStamp stamp;
    if (!FileStamp::OfRegularFile(QFile::encodeName(indexFile), stamp))
        return std::nullopt;
    return stamp;
}

bool FoundSoundAt(const QString& indexFile, const FileStamp& stamp)
{
    QFile mark(markFile(indexFile));
    return mark.open(QIODevice::ReadOnly) && mark.read(128) == markText(stamp);
}

void MarkFoundSound(const QString& indexFile, const FileStamp& stamp)
{
    QSaveFile mark(markFile(indexFile));
    if (mark.open(QIODevice::WriteOnly) && mark.write(markText(stamp)) >= 0)
        mark.commit();
}
