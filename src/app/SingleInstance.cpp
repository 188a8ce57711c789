#include "SingleInstance.h"

#include "platform/ProgramIdentity.h"

#include <QDataStream>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr int kHandOverWaitMs = 1000;
// A later copy never hands over more than this: the rest of a longer message is not read.
constexpr qint64 kMaxHandOverBytes = 1 << 20;

} // namespace

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

SingleInstance::Result SingleInstance::acquire(const QStringList& paths)
{
    const QString base = QDir(m_folder).filePath(kProgramTitle);
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0); // only a lock whose process is gone is stale
    const QString socketPath = base + QStringLiteral(".socket");
    if (!m_lock->tryLock(0)) {
        QLocalSocket probe;
        probe.connectToServer(socketPath);
        const bool found = probe.waitForConnected(kHandOverWaitMs);
        if (found) {
            QByteArray message;
            QDataStream out(&message, QIODevice::WriteOnly);
            out << paths;
            probe.write(message);
            while (probe.bytesToWrite() > 0 && probe.waitForBytesWritten(kHandOverWaitMs)) {
            }
            probe.disconnectFromServer();
        }
        m_lock.reset();
        return found ? Result::RunningCopyFound : Result::LockedWithoutCopy;
    }
    // Only the holder of the lock may clear a socket left by a copy that died.
    QLocalServer::removeServer(socketPath);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(),
                     [this] { takeConnections(); });
    m_server->listen(socketPath);
    return Result::First;
}

void SingleInstance::takeConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The list is taken once whole; a copy that goes before it is sent hands over nothing.
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            if (socket->bytesAvailable() > kMaxHandOverBytes) {
                socket->abort();
                return;
            }
            QDataStream in(socket);
            in.startTransaction();
            QStringList paths;
            in >> paths;
            if (!in.commitTransaction())
                return;
            socket->disconnectFromServer();
            // Taken up after the socket's own business: what it opens may ask the user.
            QTimer::singleShot(0, m_server.get(), [this, paths] {
                if (m_receiver)
                    m_receiver(paths);
            });
        });
    }
}
