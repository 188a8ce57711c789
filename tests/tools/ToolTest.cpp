#include "TestFiles.h"
#include "TestRegistry.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>

namespace {

struct Run
{
    int status = -1;
    QList<QJsonObject> lines;
    QByteArray errors;
};

Run runTool(const QStringList& arguments,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
            int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TALVEN77_TOOL), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs))
        return run; // status -1; the process is killed with the QProcess
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = process.readAllStandardError();
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            run.lines.append(QJsonObject{{QStringLiteral("unparsable"), QString::fromUtf8(line)}});
        else
            run.lines.append(document.object());
    }
    return run;
}

} // namespace

class ToolTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_card;

private Q_SLOTS:
    void initTestCase()
    {
        m_card = m_dir.filePath(QStringLiteral("card"));
        const Run made = runTool({QStringLiteral("make-card"), m_card, QStringLiteral("--number"),
                                  QStringLiteral("7"), QStringLiteral("--recordings"), QStringLiteral("6")});
        QCOMPARE(made.status, 0);
        QVERIFY(QFileInfo(m_card + QStringLiteral("/Device.Dat")).size() == 512);
    }

    void scanOfTheCardMatchesItsFiles()
    {
        const Run scan = runTool({QStringLiteral("scan"), QStringLiteral("--device"), m_card});
        QCOMPARE(scan.status, 0);
        QCOMPARE(scan.lines.size(), 7);
        const QJsonObject summary = scan.lines.last();
        QCOMPARE(summary[QStringLiteral("count")].toInt(), 6);
        QCOMPARE(summary[QStringLiteral("nDeviceNo")].toInt(), 7);
        QCOMPARE(summary[QStringLiteral("earliest")].toString(), QStringLiteral("261102"));
        QCOMPARE(summary[QStringLiteral("label")].toString(),
                 QStringLiteral("(007)261102-%1").arg(summary[QStringLiteral("latest")].toString()));

        QStringList paths;
        for (int i = 0; i < 6; ++i) {
            const QJsonObject record = scan.lines[i];
            const QString path = record[QStringLiteral("szFilePath")].toString();
            paths.append(path);
            const QFileInfo info(path);
            QVERIFY2(path.startsWith(m_card + QStringLiteral("/007_TALVEN-77/2026")), qPrintable(path));
            QCOMPARE(record[QStringLiteral("szFileName")].toString(), info.fileName());
            // The folders are named after the recording date, which is also the file's time.
            const QDateTime time = QDateTime::fromSecsSinceEpoch(record[QStringLiteral("tmCreate")].toInteger());
            QCOMPARE(time, info.lastModified());
            QVERIFY(path.contains(time.toString(QStringLiteral("/yyyyMM/dd/"))));
            QCOMPARE(record[QStringLiteral("nFileSize")].toInteger(), info.size());
            QVERIFY(record[QStringLiteral("nDuration")].toInt() >= 2);
        }

        // inspect agrees with the scan and shows what the card holds.
        const Run inspect = runTool(QStringList{QStringLiteral("inspect")} + paths);
        QCOMPARE(inspect.status, 0);
        QCOMPARE(inspect.lines.size(), 6);
        int japaneseMemos = 0;
        for (int i = 0; i < 6; ++i) {
            const QJsonObject file = inspect.lines[i];
            QVERIFY(file[QStringLiteral("found")].toBool());
            QCOMPARE(file[QStringLiteral("duration")], scan.lines[i][QStringLiteral("nDuration")]);
            QVERIFY(file[QStringLiteral("mode")].toInt() <= 2);
            QCOMPARE(file[QStringLiteral("indexMarks")].toArray().size(), 5);
            if (file[QStringLiteral("memo")].toString().contains(QRegularExpression(QStringLiteral("[\\x{3040}-\\x{30FF}\\x{4E00}-\\x{9FFF}]"))))
                ++japaneseMemos;
        }
        QVERIFY(japaneseMemos >= 3);
    }

    void folderScanRecursiveOrNot()
    {
        const QString folder = m_card + QStringLiteral("/007_TALVEN-77");
        const Run flat = runTool({QStringLiteral("scan"), folder});
        QCOMPARE(flat.status, 0);
        QCOMPARE(flat.lines.size(), 1);
        QCOMPARE(flat.lines[0][QStringLiteral("count")].toInt(), 0);
        QCOMPARE(flat.lines[0][QStringLiteral("label")].toString(), folder);
        QCOMPARE(flat.lines[0][QStringLiteral("earliest")].toString(), QStringLiteral("999999"));

        const Run deep = runTool({QStringLiteral("scan"), folder + u'/', QStringLiteral("--recursive")});
        QCOMPARE(deep.status, 0);
        QCOMPARE(deep.lines.last()[QStringLiteral("count")].toInt(), 6);
        QCOMPARE(deep.lines.last()[QStringLiteral("label")].toString(), folder);
    }

    void drivesOfASimulation()
    {
        const QString blank = m_dir.filePath(QStringLiteral("blank"));
        QDir().mkpath(blank);
        const QString list = m_dir.filePath(QStringLiteral("drives.txt"));
        QFile file(list);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("usb %1\ncard %2\n").arg(m_card, blank).toUtf8());
        file.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TALVEN77_DRIVES"), list);
        Run drives = runTool({QStringLiteral("drives")}, environment);
        QCOMPARE(drives.status, 0);
        QCOMPARE(drives.lines.size(), 2);
        // Free space depends on this machine's disk; only its presence is checked.
        for (QJsonObject& line : drives.lines)
            QVERIFY(line.take(QStringLiteral("enoughSpace")).isBool());
        QCOMPARE(drives.lines[0], (QJsonObject{{"drive", m_card}, {"recorder", true}, {"number", 7}, {"writable", true}}));
        QCOMPARE(drives.lines[1], (QJsonObject{{"drive", blank}, {"recorder", false}, {"number", 0}, {"writable", QJsonValue()}}));
    }

    void playEndsWhenTheRecordingHasBeenHeard()
    {
        const Run scan = runTool({QStringLiteral("scan"), QStringLiteral("--device"), m_card});
        const QString first = scan.lines.value(0)[QStringLiteral("szFilePath")].toString();
        QVERIFY(!first.isEmpty());

        // No sound server at all: the engine's message and a failure.
        QProcessEnvironment silent = QProcessEnvironment::systemEnvironment();
        silent.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("no-such-socket")));
        const Run refused = runTool({QStringLiteral("play"), first}, silent);
        QVERIFY(refused.status > 0);
        QVERIFY(QString::fromUtf8(refused.errors).contains(QStringLiteral("音声出力先が存在しないため再生できません。")));

        if (!qEnvironmentVariableIsSet("TALVEN77_REQUIRE_AUDIO"))
            QSKIP("no test sound server");
        const Run played = runTool({QStringLiteral("play"), first, QStringLiteral("--speed"), QStringLiteral("fast"),
                                    QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--to"), QStringLiteral("2")});
        QVERIFY2(played.status == 0, played.errors.constData());
        QVERIFY(runTool({QStringLiteral("play"), first, QStringLiteral("--speed"), QStringLiteral("warp")}).status > 0);
    }

    void badInputFailsClearly()
    {
        const QString text = m_dir.filePath(QStringLiteral("notes.mp3"));
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("just text");
        file.close();
        const Run inspect = runTool({QStringLiteral("inspect"), m_card + QStringLiteral("/Device.Dat"), text,
                                     m_dir.filePath(QStringLiteral("missing.mp3")), m_dir.path()});
        QCOMPARE(inspect.status, 1);
        QCOMPARE(inspect.lines.size(), 4);
        for (const QJsonObject& line : inspect.lines) {
            QVERIFY(!line.contains(QStringLiteral("unparsable")));
            QCOMPARE(line[QStringLiteral("found")], QJsonValue(false));
            QVERIFY(!line[QStringLiteral("error")].toString().isEmpty());
        }

        const Run noDevice = runTool({QStringLiteral("scan"), QStringLiteral("--device"), m_dir.path()});
        QVERIFY(noDevice.status > 0);
        QVERIFY(noDevice.lines.isEmpty());
        QVERIFY(noDevice.errors.contains("Device.Dat"));

        QVERIFY(runTool({QStringLiteral("scan"), m_dir.filePath(QStringLiteral("nowhere"))}).status > 0);

        // Special files: nothing writes to the FIFOs, so a tool that opened one
        // for good would wait forever (it is killed after a few seconds).
        const QString pipes = m_dir.filePath(QStringLiteral("pipes"));
        QVERIFY(QDir().mkpath(pipes));
        QVERIFY(MakeFifo(pipes + QStringLiteral("/pipe.mp3")));
        QVERIFY(MakeFifo(pipes + QStringLiteral("/Device.Dat")));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), pipes + QStringLiteral("/null.mp3")));
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const Run special = runTool({QStringLiteral("inspect"), pipes + QStringLiteral("/pipe.mp3"),
                                     pipes + QStringLiteral("/null.mp3"), pipes},
                                    environment, 10000);
        QCOMPARE(special.status, 1);
        QCOMPARE(special.lines.size(), 3);
        const auto error = [&](int line) { return special.lines[line][QStringLiteral("error")].toString(); };
        QCOMPARE(error(0), QStringLiteral("not a regular file"));
        QCOMPARE(error(1), QStringLiteral("not a regular file"));
        QCOMPARE(error(2), QString::fromLocal8Bit(std::strerror(EISDIR)));
        const Run pipeDevice =
            runTool({QStringLiteral("scan"), QStringLiteral("--device"), pipes}, environment, 10000);
        QCOMPARE(pipeDevice.status, 1);
        QVERIFY(pipeDevice.errors.contains("Device.Dat"));
        const Run pipeFolder = runTool({QStringLiteral("scan"), pipes}, environment, 10000);
        QCOMPARE(pipeFolder.status, 0);
        QCOMPARE(pipeFolder.lines.size(), 1);
        QCOMPARE(pipeFolder.lines[0][QStringLiteral("count")].toInt(), 0);
        QVERIFY(runTool({QStringLiteral("make-card"), m_dir.filePath(QStringLiteral("c")), QStringLiteral("--number"), QStringLiteral("0")}).status > 0);
        QVERIFY(runTool({QStringLiteral("frobnicate")}).status > 0);
    }
};

TALVEN77_REGISTER_TEST(ToolTest);
#include "ToolTest.moc"
