#pragma once

#include <QProcess>
#include <QString>

// A file system mounted for the length of a test: a small tmpfs, or a folder bound
// at another place. Unmounted (lazily, so a test that fails half-way still cleans
// up) when it goes. Mounting needs root; error() says why it failed.
class ScopedMount
{
public:
    static ScopedMount Memory(const QString& at, const QByteArray& size = "4m");
    static ScopedMount Bind(const QString& folder, const QString& at);
    // The folder made read-only in place, as a write-protected card is: bound
    // over itself and made read-only.
    static ScopedMount ReadOnly(const QString& folder);
    // A btrfs file system made in the file image (created here) and mounted at at
    // through a loop device: needs mkfs.btrfs (btrfs-progs), btrfs in the kernel and root.
    static ScopedMount Btrfs(const QString& image, const QString& at);
    ~ScopedMount();
    ScopedMount(ScopedMount&& other) noexcept;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ScopedMount& operator=(ScopedMount&&) = delete;

    bool mounted() const { return m_error == 0; }
    // errno of the failed mount (EPERM where mounting is not permitted).
    int error() const { return m_error; }

private:
    ScopedMount(const QString& at, int error) : m_at(at), m_error(error) {}
    QString m_at;
    int m_error = 0;
};

// Makes a btrfs subvolume at path (a new folder on a btrfs file system): a file system of
// its own, with its own st_dev, nested without a mount. False when the tool fails.
bool CreateSubvolume(const QString& path);

// An exclusive flock on a file held by another process (the flock(1) command) until
// release or the end of the object: the way a copy running in another program, or on
// another machine sharing the folder, holds its temporary file.
class LockHeldElsewhere
{
public:
    explicit LockHeldElsewhere(const QString& path);
    ~LockHeldElsewhere();
    LockHeldElsewhere(const LockHeldElsewhere&) = delete;
    LockHeldElsewhere& operator=(const LockHeldElsewhere&) = delete;

    // True once the other process has the lock.
    bool held() const { return m_held; }
    void release();

private:
    QProcess m_process;
    bool m_held = false;
};
