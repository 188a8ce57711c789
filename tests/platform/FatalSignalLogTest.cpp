#include "TestRegistry.h"
#include "platform/FatalSignalLog.h"
#include "platform/ProgramIdentity.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

// The log a crash leaves in the user's state folder: the version, the signal and the
// stack, written by a program that then still ends by the signal.
class FatalSignalLogTest : public QObject
{
    Q_OBJECT

    struct Trial
    {
        QProcess::ExitStatus exitStatus;
        int exitCode;
        QByteArray log;
    };

    static Trial runTrial(const QString& how, const QProcessEnvironment& environment, const QString& logPath)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/fatal_signal_trial"), {how});
        process.waitForFinished(60000);
        QFile log(logPath);
        log.open(QIODevice::ReadOnly);
        return {process.exitStatus(), process.exitCode(), log.readAll()};
    }

private Q_SLOTS:
    void aCrashIsLogged_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("signalName");
        QTest::newRow("fault") << "fault" << "SIGSEGV";
        QTest::newRow("abort") << "abort" << "SIGABRT";
        QTest::newRow("bus error") << QString::number(SIGBUS) << "SIGBUS";
        QTest::newRow("arithmetic") << QString::number(SIGFPE) << "SIGFPE";
        QTest::newRow("illegal instruction") << QString::number(SIGILL) << "SIGILL";
        QTest::newRow("segmentation signal") << QString::number(SIGSEGV) << "SIGSEGV";
    }
    void aCrashIsLogged()
    {
        QFETCH(QString, how);
        QFETCH(QString, signalName);
        QTemporaryDir state;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // The folders below the state folder do not exist yet: the crash makes them.
        environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path() + QStringLiteral("/state"));
        const QString logPath = state.path() + QStringLiteral("/state/Corvane/TALVEN-77-PC Player/crash.log");
        const Trial first = runTrial(how, environment, logPath);
        // The signal took its course: the process ended by it (or, in a sanitizer build,
        // through the sanitizer's report, which ends it with a failure status).
        QVERIFY(first.exitStatus == QProcess::CrashExit || first.exitCode != 0);
        QVERIFY2(first.log.contains(QStringLiteral("%1 %2\n").arg(kProgramTitle, QStringLiteral(TALVEN77_VERSION)).toUtf8()),
                 first.log.constData());
        QVERIFY2(first.log.contains(" " + signalName.toLatin1() + '\n')
                     || first.log.contains(" " + signalName.toLatin1() + " at address 0x"),
                 first.log.constData());
        // The stack: one line per frame, the trial's own among them.
        const QByteArray stack = first.log.mid(first.log.indexOf("stack:\n"));
        QVERIFY2(stack.count("fatal_signal_trial") >= 2, first.log.constData());
        QVERIFY(QFileInfo(logPath).permissions() & QFile::ReadOwner);
        QVERIFY(!(QFileInfo(logPath).permissions() & QFile::ReadOther));

        // A second crash adds its entry after the first.
        const Trial second = runTrial(how, environment, logPath);
        QVERIFY(second.log.startsWith(first.log));
        QCOMPARE(second.log.count("----\n"), 2);
    }

    void theStateFolder_data()
    {
        QTest::addColumn<QString>("stateHome");
        QTest::addColumn<QString>("expected");
        const QString fallback = QDir::homePath() + QStringLiteral("/.local/state/Corvane/TALVEN-77-PC Player/crash.log");
        QTest::newRow("set") << "/var/tmp/st" << "/var/tmp/st/Corvane/TALVEN-77-PC Player/crash.log";
        QTest::newRow("unset") << "" << fallback;
        QTest::newRow("relative, so ignored") << "state" << fallback;
    }
    void theStateFolder()
    {
        QFETCH(QString, stateHome);
        QFETCH(QString, expected);
        const QByteArray before = qgetenv("XDG_STATE_HOME");
        const bool wasSet = qEnvironmentVariableIsSet("XDG_STATE_HOME");
        if (stateHome.isEmpty())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", stateHome.toUtf8());
        const QString path = FatalSignalLogPath();
        if (wasSet)
            qputenv("XDG_STATE_HOME", before);
        else
            qunsetenv("XDG_STATE_HOME");
        QCOMPARE(path, expected);
    }
};

TALVEN77_REGISTER_TEST(FatalSignalLogTest);

#include "FatalSignalLogTest.moc"
