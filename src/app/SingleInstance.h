#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <memory>

// One running copy per user. The first copy takes a lock file in the user's
// runtime folder and listens on a local socket named after the program's
// title; a later copy fails to take the lock and finds the first one by
// connecting to that socket.
class SingleInstance
{
public:
    enum class Result { First, RunningCopyFound, LockedWithoutCopy };

    // folder: where the lock and the socket live (the user's runtime folder by default).
    explicit SingleInstance(QString folder = {});
    ~SingleInstance();

    Result acquire();

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
