#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// One running copy per user. The first copy takes a lock file in the user's
// runtime folder and listens on a local socket named after the program's
// title; a later copy fails to take the lock and finds the first one by
// connecting to that socket, over which it hands the first one the files it
// was started with.
class SingleInstance
{
public:
    enum class Result { First, RunningCopyFound, LockedWithoutCopy };
    using Receiver = std::function<void(const QStringList& paths)>;

    // folder: where the lock and the socket live (the user's runtime folder by default).
    explicit SingleInstance(QString folder = {});
    ~SingleInstance();

    // paths: the files to open, absolute, handed to the running copy when there is one.
    Result acquire(const QStringList& paths = {});
    // In the first copy: what a later one hands over, as it arrives (also no paths at all).
    void setReceiver(Receiver receiver) { m_receiver = std::move(receiver); }

private:
    void takeConnections();

    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    Receiver m_receiver;
};
