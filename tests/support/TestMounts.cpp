#include "TestMounts.h"

#include <QFile>

#include <cerrno>
#include <sys/mount.h>

ScopedMount ScopedMount::Memory(const QString& at, const QByteArray& size)
{
    const QByteArray options = "size=" + size;
    const int done = ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, options.constData());
    return ScopedMount(at, done == 0 ? 0 : errno);
}

ScopedMount ScopedMount::Bind(const QString& folder, const QString& at)
{
    const int done = ::mount(QFile::encodeName(folder).constData(), QFile::encodeName(at).constData(), nullptr,
                             MS_BIND, nullptr);
    return ScopedMount(at, done == 0 ? 0 : errno);
}

ScopedMount ScopedMount::ReadOnly(const QString& folder)
{
    ScopedMount bound = Bind(folder, folder);
    if (!bound.mounted())
        return bound;
    const QByteArray path = QFile::encodeName(folder);
    if (::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        const int error = errno;
        ::umount2(path.constData(), MNT_DETACH);
        bound.m_error = error;
    }
    return bound;
}

namespace {
// 0 when the command ran and succeeded, else an errno that says roughly why not.
int runTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return ENOENT;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return EPERM;
    return 0;
}
} // namespace

ScopedMount ScopedMount::Btrfs(const QString& image, const QString& at)
{
    QFile file(image);
    // Sparse: the file system takes a few MiB of it.
    if (!file.open(QIODevice::WriteOnly) || !file.resize(qint64(128) << 20))
        return ScopedMount(at, ENOSPC);
    file.close();
    if (const int error = runTool(QStringLiteral("mkfs.btrfs"), {QStringLiteral("-q"), image}))
        return ScopedMount(at, error);
    const int error = runTool(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, at});
    return ScopedMount(at, error);
}

bool CreateSubvolume(const QString& path)
{
    return runTool(QStringLiteral("btrfs"), {QStringLiteral("subvolume"), QStringLiteral("create"), path}) == 0;
}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept : m_at(other.m_at), m_error(other.m_error)
{
    other.m_error = EINVAL;
}

ScopedMount::~ScopedMount()
{
    if (m_error == 0)
        ::umount2(QFile::encodeName(m_at).constData(), MNT_DETACH);
}

LockHeldElsewhere::LockHeldElsewhere(const QString& path)
{
    // flock(1) becomes the command (no fork), which says so once the lock is held and
    // then waits: one process, whose end releases the lock.
    m_process.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), path,
                                              QStringLiteral("sh"),
                                              QStringLiteral("-c"), QStringLiteral("echo held; exec sleep 600")});
    if (!m_process.waitForStarted(10000))
        return;
    while (!m_process.canReadLine() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(1000);
    m_held = m_process.readLine().trimmed() == "held";
}

LockHeldElsewhere::~LockHeldElsewhere()
{
    release();
}

void LockHeldElsewhere::release()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
    m_held = false;
}
