#include "FolderMemo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

FolderMemo* g_folderMemo = nullptr;

// Coarser than any clock tick a file system stamps times with.
constexpr int64_t kClockTickNs = 50'000'000;

int64_t nanoseconds(const struct statx_timestamp& time)
{
    return int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

} // namespace

bool FolderStamp::Of(int fd, FolderStamp& stamp)
{
    struct statx st {};
    constexpr unsigned kWanted = STATX_TYPE | STATX_INO | STATX_MTIME | STATX_CTIME;
    if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, kWanted, &st) != 0 || (st.stx_mask & kWanted) != kWanted
        || !S_ISDIR(st.stx_mode))
        return false;
    stamp = {makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino, nanoseconds(st.stx_mtime),
             nanoseconds(st.stx_ctime)};
    return true;
}

bool FolderStamp::settledBefore(int64_t readAtNs) const
{
    return changedNs < readAtNs - kClockTickNs && modifiedNs < readAtNs - kClockTickNs;
}

QByteArray FolderMemoKey(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

void SetFolderMemo(FolderMemo* memo)
{
    g_folderMemo = memo;
}

FolderMemo* CurrentFolderMemo()
{
    return g_folderMemo;
}
