#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>
#include <set>
#include <utility>
#include <sys/types.h>

// The outcome of a file operation: errno of the failure (0 for success) and its text for the user.
struct FileResult
{
    int error = 0;
    bool ok() const { return error == 0; }
    QString message() const;   // the system's text for error in Japanese (SystemErrorText), empty when ok
};

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
// An operation that copies many files (a transfer, a paste) holds one of these while it
// runs: each folder its copies write into (on this thread) is then tidied of stale
// temporary copies before the first file only, rather than read whole before every file.
// A new operation tidies every folder again. Without one, each copy tidies its folder.
class TidyEachFolderOnce
{
public:
    TidyEachFolderOnce();
    ~TidyEachFolderOnce();
    TidyEachFolderOnce(const TidyEachFolderOnce&) = delete;
    TidyEachFolderOnce& operator=(const TidyEachFolderOnce&) = delete;

private:
    std::set<std::pair<dev_t, ino_t>> m_tidied;
    std::set<std::pair<dev_t, ino_t>>* m_outer;
};
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

// Copies made in stages, so that many share their syncs. add() writes a file into a
// temporary file beside its destination as CopyFileDurably does (the patches put in, the
// source's permission bits, access and modification times), without syncing or naming it.
// commit() then makes every pending copy durable with one sync of each file system they
// are on (syncfs, which reports any write error of that file system since add), reads
// each back from the device with CopyCheck::ReadBack, renames each over its destination
// and syncs each of their folders once. Nothing carries a destination's name before its
// bytes are on the device; whatever is not committed is removed (by a failed commit, by
// discard, or when the batch goes).
class CopyBatch
{
public:
    explicit CopyBatch(CopyCheck check = CopyCheck::None) : m_check(check) {}
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    // The same checks and errors as CopyFileDurably; a patch that does not lie inside
    // the source gives EINVAL.
    FileResult add(const QString& source, const QString& destination, const CopyProgress& progress = {},
                   const std::vector<CopyPatch>& patches = {});
    // Copies added and not yet committed.
    int pending() const { return int(m_pending.size()); }
    // committed: how many of the pending copies, in the order added, now carry their
    // destination's name (all when ok, those before the one that failed otherwise).
    FileResult commit(int* committed = nullptr);
    // Removes every pending copy.
    void discard();

private:
    struct Pending
    {
        int in = -1;       // the source
        int folder = -1;   // the destination's folder
        int out = -1;      // the temporary file
        QByteArray folderPath;
        QByteArray temporary;
        QByteArray name;
        int64_t size = 0;
        std::vector<CopyPatch> patches;
    };
    static void remove(Pending& copy);
    CopyCheck m_check;
    std::vector<Pending> m_pending;
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
// Renames a file or folder, never replacing anything: renameat2(RENAME_NOREPLACE); where the
// file system does not support it (EINVAL/ENOSYS), link()+unlink() for files, and for folders
// a check that the target does not exist followed by rename. EEXIST when the name is taken.
// Files where link() is refused too (EPERM/EOPNOTSUPP, as on FAT) go the folders' way.
// A new name that a case-insensitive file system (FAT) finds as the very entry being renamed
// ("memo.wav" to "Memo.wav") is no taken name: the entry goes through a hidden temporary
// name (".talven77-rename-xxxxxxxx-<new name>.tmp", the entry locked with flock meanwhile;
// ENAMETOOLONG when the new name does not fit into it, EBUSY when another holds the
// entry's lock), since the kernel treats a rename onto the same entry as done. An entry
// that a crash left under that name is the user's file: RecoverTemporaryNames finishes it.
FileResult RenameNoReplace(const QString& from, const QString& to);

// Writes all of data to fd, going on after interruptions and short writes; 0, or the
// errno of the failure.
int WriteAll(int fd, const char* data, size_t size);
// Removes one file (not a folder).
FileResult RemoveFile(const QString& path);
// Removes a folder with everything below it, never following symbolic links out of it
// (a link is removed, not its target) and never entering another file system: a folder
// that is or holds a mount point (FindMountPoint) gives EXDEV with nothing removed.
// Stops at the first failure.
// A path that is itself a symbolic link loses the link alone; any other non-folder gives ENOTDIR.
FileResult RemoveFolderTree(const QString& path);
// The folder itself when it is the root of a mount, else the first folder below it that
// is (another file system, or a folder bound there) or that lies on another device than
// the folder (a file system nested without a mount, as a btrfs subvolume); links are not
// followed. Empty when none.
QString FindMountPoint(const QString& folder);
// Whether the folder at nativePath is such a boundary for a walk of a tree on device topDev.
bool IsFileSystemBoundary(const QByteArray& nativePath, dev_t topDev);

// Removes from folder the program's temporary copies whose writer is gone (a crash, a
// kill): each is locked exclusively first, so a copy still being written, by this
// process, another one or another machine sharing the folder, stays.
void RemoveStaleCopies(const QString& folder);
// The start-up tidy-up of an absolute folder and, withSubfolders, every folder below it
// (links not followed, other file systems not entered): stale temporary copies are
// removed, and an entry that a crash left under a rename's hidden name gets its new name
// (it is the user's recording or folder: never removed; under the first free numbered
// name, name(2) on, when the new name is taken by now).
void RecoverTemporaryNames(const QString& folder, bool withSubfolders);
// The names of the subfolders of the folder open as fd (links not followed), in the file
// system's order: from the folder memo while the folder's stamp holds (key: its native
// path, see FolderMemoKey), else read.
QList<QByteArray> SubfolderNames(int fd, const QByteArray& key);

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
