#include "SingleInstance.h"

#include "platform/ProgramIdentity.h"

#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>

SingleInstance::SingleInstance(QString folder) : m_folder(std::move(folder))
{
    if (m_folder.isEmpty())
        m_folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir().mkpath(m_folder);
}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

SingleInstance::Result SingleInstance::acquire()
{
    const QString base = QDir(m_folder).filePath(kProgramTitle);
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // only a lock whose process is gone is stale
    const QString socketPath = base + QStringLiteral(".socket");
    if (!m_lock->tryLock(0)) {
        QLocalSocket probe;
        probe.connectToServer(socketPath);
        const bool found = probe.waitForConnected(1000);
        m_lock.reset();
        return found ? Result::RunningCopyFound : Result::LockedWithoutCopy;
    }
    // Only the holder of the lock may clear a socket left by a copy that died.
    QLocalServer::removeServer(socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(socketPath);
    return Result::First;
}
