#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A message bus of the test's own (dbus-daemon --session on a socket in a temporary
// folder), so that D-Bus code talks over a real connection without touching the
// user's bus. The daemon goes with the test, also when the test crashes.
class PrivateBus
{
public:
    ~PrivateBus();
    // The bus's address, or empty with the reason in why.
    QString start(QString* why);

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
};
