#include "TestFiles.h"

#include <QFile>

QByteArray ReadWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
