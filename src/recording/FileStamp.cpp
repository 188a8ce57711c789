#include "FileStamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

int64_t nanoseconds(const struct statx_timestamp& time)
{
    return int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

FileStamp FileStamp::FromStatx(const struct statx& st)
{
    return {makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, int64_t(st.stx_size),
            nanoseconds(st.stx_mtime), nanoseconds(st.stx_ctime)};
}

bool FileStamp::OfRegularFile(const QByteArray& nativePath, FileStamp& stamp)
{
    return OfRegularFileAt(AT_FDCWD, nativePath.constData(), stamp);
}

bool FileStamp::OfRegularFileAt(int folder, const char* name, FileStamp& stamp)
{
    struct statx st {};
    constexpr unsigned kWanted = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    if (statx(folder, name, AT_STATX_SYNC_AS_STAT, kWanted, &st) != 0)
        return false;
    if (!S_ISREG(st.stx_mode) || (st.stx_mask & kWanted) != kWanted)
        return false;
    stamp = FromStatx(st);
    return true;
}
