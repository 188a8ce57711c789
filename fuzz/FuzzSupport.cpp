#include "FuzzSupport.h"

#include <QFile>
#include <QTemporaryDir>

QString FuzzScratchFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

QString WriteFuzzFile(const QString& name, const uint8_t* data, size_t size)
{
    const QString path = FuzzScratchFolder() + u'/' + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) {
        std::fprintf(stderr, "cannot write the scratch file %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

QByteArray ReadFuzzFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
