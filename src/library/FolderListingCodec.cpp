#include "FolderListingCodec.h"

#include <cstring>

namespace {

constexpr qsizetype kStampBytes = 5 * sizeof(int64_t);

bool nameOfAnEntry(const QByteArray& name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') && !name.contains('\0');
}

} // namespace

QByteArray JoinNames(const QList<QByteArray>& names)
{
    return names.isEmpty() ? QByteArray() : names.join('/');
}

bool SplitNames(const QByteArray& joined, QList<QByteArray>& names)
{
    names.clear();
    if (joined.isEmpty())
        return true;
    names = joined.split('/');
    for (const QByteArray& name : std::as_const(names)) {
        if (!nameOfAnEntry(name)) {
            names.clear();
            return false;
        }
    }
    return true;
}

QByteArray PackStampedNames(const StampedNames& names)
{
    QByteArray packed;
    for (const auto& [name, stamp] : names) {
        packed.append(name).append('\0');
        const int64_t numbers[5] = {int64_t(stamp.device), int64_t(stamp.inode), stamp.size, stamp.modifiedNs,
                                    stamp.changedNs};
        packed.append(reinterpret_cast<const char*>(numbers), kStampBytes);
    }
    return packed;
}

bool UnpackStampedNames(const QByteArray& packed, StampedNames& names)
{
    names.clear();
    qsizetype at = 0;
    while (at < packed.size()) {
        const qsizetype end = packed.indexOf('\0', at);
        if (end <= at || kStampBytes > packed.size() - (end + 1)) {
            names.clear();
            return false;
        }
        const QByteArray name = packed.mid(at, end - at);
        if (!nameOfAnEntry(name)) {
            names.clear();
            return false;
        }
        int64_t numbers[5];
        std::memcpy(numbers, packed.constData() + end + 1, kStampBytes);
        names.append({name, FileStamp{uint64_t(numbers[0]), uint64_t(numbers[1]), numbers[2], numbers[3], numbers[4]}});
        at = end + 1 + kStampBytes;
    }
    return true;
}
