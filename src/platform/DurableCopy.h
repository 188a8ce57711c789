#pragma once

#include "FileResult.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Called between chunks of one file's copy with the bytes done and the file's size
// (also once at 0 before the first chunk). The caller may process events there.
using CopyProgress = std::function<void(int64_t done, int64_t total)>;

// Copies source to destination durably: the bytes go into a temporary file in the
// destination's folder (".talven77-copy-xxxxxxxx-<name>.tmp", created with O_CREAT|O_EXCL and
// locked with flock for as long as it is written; temporary copies in that folder whose
// writer is gone are removed first, see RemoveStaleCopies and TidyEachFolderOnce), are fsync'ed, get the source's permission bits (and, when copyTimes,
// its access and modification times, futimens), and the temporary file is then renamed
// over the destination and the folder fsync'ed. A failure at any byte (disk full, card
// pulled, read error) removes the temporary file and leaves any earlier file of the
// destination's name untouched. When source and destination name the same file (same
// device and inode, through links too) nothing is written and EINVAL is returned.
// Source must be a regular file (never open a FIFO/device: stat first, open with O_NONBLOCK).
// A folder as source or destination gives EISDIR, any other kind of source (FIFO, device,
// socket) EOPNOTSUPP. A file system that cannot hold the source's permission bits
// (fchmod refused with EPERM/EOPNOTSUPP, as FAT does for read and execute bits) keeps
// its own: the copy still succeeds, since the bytes and times are what the user needs.
//
// The temporary file is written, read back and renamed through the one descriptor that
// holds its lock, closed only after the rename: where flock is emulated with byte-range
// locks (NFS) closing any descriptor of the file would release the lock. There the lock
// keeps out other processes and machines only: a tidy-up by this same process meanwhile
// would get the lock too (the program runs one file operation at a time).
//
// With CopyCheck::ReadBack the written bytes are read back from the device before the
// rename: the temporary file is fsync'ed, dropped from the page cache and compared with
// the source. A copy that differs (or whose size differs) is removed and EIO returned;
// the destination's name then still holds what it held before.
enum class CopyCheck { None, ReadBack };
FileResult CopyFileDurably(const QString& source, const QString& destination,
                           const CopyProgress& progress = {}, bool copyTimes = true,
                           CopyCheck check = CopyCheck::None);
// A few bytes that a copy holds in place of the source's: written into the temporary
// file before its sync, and expected there by the read-back.
struct CopyPatch
{
    int64_t offset = 0;
    QByteArray bytes;
};

// A new file written durably under a name that nothing else holds: the bytes go into a
// temporary copy in the destination's folder (named, locked and tidied as CopyFileDurably's),
// and commit() syncs it, gives it the name without replacing anything (EEXIST when the name
// was taken meanwhile; the file stays pending for another name) and syncs the folder. A file
// not committed is removed when the object goes.
class DurableNewFile
{
public:
    DurableNewFile() = default;
    ~DurableNewFile();
    DurableNewFile(const DurableNewFile&) = delete;
    DurableNewFile& operator=(const DurableNewFile&) = delete;

    // Opens the destination's folder and creates the temporary file there.
    FileResult create(const QString& folder);
    // The temporary file, open for reading and writing.
    int descriptor() const { return m_out; }
    FileResult write(const char* data, size_t size);
    // Replace::Yes renames over a file of that name (the user has agreed to replace it).
    enum class Replace { No, Yes };
    FileResult commit(const QString& name, Replace replace = Replace::No);

private:
    int m_folder = -1;
    int m_out = -1;
    QByteArray m_folderPath;
    QByteArray m_temporary;
};

// Creates folder with every missing folder above it and makes the new entries durable:
// the folder and each folder above it up to root (root included) are fsync'ed, and so is
// the parent of every folder created above root. A folder that exists already is synced
// the same way (its entry may never have reached the device). ENOTDIR when something
// other than a folder is in the way.
FileResult CreateFolderDurably(const QString& folder, const QString& root);

// Gives destination the access and modification times and permission bits of source.
// Works for folders too; permission bits the file system refuses are kept as with a copy.
FileResult CopyFileTimes(const QString& source, const QString& destination);
// Moves a file: rename(2) within a file system (replacing an existing destination, as the
// caller has decided), else (EXDEV) CopyFileDurably with times and CopyCheck::ReadBack,
// then removes the source: a copy the device does not give back as written keeps the
// source (EIO). When the source cannot be removed the copy stays and the error is returned.
// Source and destination naming the same file (through links too) give EINVAL with nothing
// changed: rename(2) would keep both hard links, or put a link in place of its own target.
FileResult MoveFile(const QString& source, const QString& destination, const CopyProgress& progress = {});

// Writes all of data to fd, going on after interruptions and short writes; 0, or the
// errno of the failure.
int WriteAll(int fd, const char* data, size_t size);

// Test seam: the next copies' writes fail with this errno once this many bytes of the
// file were written (negative afterBytes: no fault). Stays until reset.
// While a fault is set, copies go through read/write instead of copy_file_range.
void SetCopyWriteFault(int64_t afterBytes, int error);
// Test seam: called with a folder's path each time one is synced (its entries made
// durable); an empty function removes the observer.
void SetFolderSyncObserver(std::function<void(const QString& folder)> observer);
// Test seam: the next copies write the byte at this offset of the file inverted, as a
// failing medium might (negative: no fault). Stays until reset; copies go through
// read/write meanwhile.
void SetCopyCorruption(int64_t offset);
