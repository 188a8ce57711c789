#pragma once

#include <QByteArray>
#include <QList>
#include <cstdint>

// What a folder's status says about its entries: adding, removing or renaming any
// entry in it moves its modification and status-change times.
struct FolderStamp
{
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FolderStamp&) const = default;

    // The stamp of the folder open as fd; false when it cannot be had.
    static bool Of(int fd, FolderStamp& stamp);
    // Whether the stamp can be trusted to move with the next change: a change made
    // within the file system's clock tick of when the folder was read may have left
    // its times as they were.
    bool settledBefore(int64_t readAtNs) const;
};

// Remembers between runs the subfolders of folders that held none of the program's
// temporary entries when the start-up tidy-up read them, so that a folder whose
// stamp has not moved since is neither read nor tidied again. A memo that fails
// (locked, full, corrupt) only misses.
class FolderMemo
{
public:
    virtual ~FolderMemo() = default;

    // One walk: what it remembers is written out together at its end.
    virtual void beginWalk() = 0;
    virtual void endWalk() = 0;
    // The subfolders' names in the order they were read, when folder (a native path
    // without trailing separator) still has the stamp it had then.
    virtual bool knownSubfolders(const QByteArray& folder, const FolderStamp& stamp, QList<QByteArray>& names) = 0;
    virtual void rememberSubfolders(const QByteArray& folder, const FolderStamp& stamp,
                                    const QList<QByteArray>& names) = 0;
};

// A folder's native path as the memo knows it: without trailing separators.
QByteArray FolderMemoKey(QByteArray path);

// The memo the walks use; none by default. The caller keeps it alive while set.
void SetFolderMemo(FolderMemo* memo);
FolderMemo* CurrentFolderMemo();
