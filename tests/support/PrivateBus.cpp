#include "PrivateBus.h"

#include <QFile>
#include <QStandardPaths>
#include <csignal>
#include <sys/prctl.h>

PrivateBus::~PrivateBus()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }
}

QString PrivateBus::start(QString* why)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty() || !m_folder.isValid()) {
        *why = QStringLiteral("dbus-daemon is not installed (Debian package dbus-daemon)");
        return {};
    }
    const QString config = m_folder.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        *why = QStringLiteral("cannot write the bus configuration");
        return {};
    }
    file.write(
        QStringLiteral(
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
            "<auth>EXTERNAL</auth><policy context=\"default\">"
            "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
            "<allow own=\"*\"/></policy></busconfig>\n")
            .arg(m_folder.path())
            .toUtf8());
    file.close();
    // The bus goes with the test, also when the test crashes.
    m_daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_daemon.start(program, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                             QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    while (m_daemon.waitForReadyRead(10000)) {
        if (m_daemon.canReadLine())
            return QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    *why = QStringLiteral("dbus-daemon did not start: ") +
           QString::fromLocal8Bit(m_daemon.readAllStandardError());
    return {};
}
