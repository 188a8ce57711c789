#include "MountTable.h"

#include <QFile>

namespace {

QString unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && value < 256) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return QFile::decodeName(out);
}

} // namespace

QList<MountEntry> ParseMountInfo(const QByteArray& text)
{
    QList<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"), 6);
        if (fields.size() < 7 || separator < 0 || separator + 2 >= fields.size())
            continue;
        const QList<QByteArray> numbers = fields[2].split(':');
        if (numbers.size() != 2)
            continue;
        bool majorOk = false, minorOk = false;
        MountEntry entry;
        entry.major = numbers[0].toInt(&majorOk);
        entry.minor = numbers[1].toInt(&minorOk);
        if (!majorOk || !minorOk)
            continue;
        entry.root = unescape(fields[3]);
        entry.mountPoint = unescape(fields[4]);
        entry.fileSystem = unescape(fields[separator + 1]);
        entry.source = unescape(fields[separator + 2]);
        entries.append(entry);
    }
    return entries;
}
