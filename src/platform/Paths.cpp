#include "Paths.h"

#include <QDir>
#include <QFile>

namespace {
const QChar kSeparator = QDir::separator();
}

QString AddTrailingSeparator(const QString& path)
{
    if (path.endsWith(kSeparator))
        return path;
    return path + kSeparator;
}

QString RemoveTrailingSeparator(const QString& path)
{
    if (path.endsWith(kSeparator))
        return path.chopped(1);
    return path;
}

QString LastPathComponent(const QString& path)
{
    const QString trimmed = RemoveTrailingSeparator(path);
    return trimmed.mid(trimmed.lastIndexOf(kSeparator) + 1);
}

QString DecodedEntryName(const char* name)
{
    QString decoded = QFile::decodeName(name);
    return QFile::encodeName(decoded) == name ? decoded : QString();
}
