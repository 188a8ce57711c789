#include "CardBuilder.h"
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestMounts.h"
#include "TestRegistry.h"
#include "platform/Cp932.h"
#include "recording/VoiceHeader.h"

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
#include <csignal>
#include <fcntl.h>
#include <cstring>
#include <functional>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int status = -1;
    QList<QJsonObject> lines;
    QByteArray errors;
    QByteArray output; // standard output as it was written
};

// childSetup runs in the tool's process before it starts (limits, signals).
Run runTool(const QStringList& arguments,
            const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
            int timeoutMs = 120000, const std::function<void()>& childSetup = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (childSetup)
        process.setChildProcessModifier(childSetup);
    process.start(QStringLiteral(TALVEN77_TOOL), arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs))
        return run; // status -1; the process is killed with the QProcess
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.errors = process.readAllStandardError();
    run.output = process.readAllStandardOutput();
    for (const QByteArray& line : run.output.split('\n')) {
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

const QDateTime kRecorded(QDate(2013, 4, 15), QTime(10, 0)); // tests run with TZ=Asia/Tokyo
constexpr int kBody = 20; // the XPCC frame comes first: its body starts at byte 20

// The header the edit tests start from: every field set, a long memo.
tagVoiceHeader editBase()
{
    tagVoiceHeader header =
        MakeVoiceHeader(1, QStringLiteral("元のメモ、これはかなり長めの文です"), {5, 10});
    header.protectFlag = 1;
    return header;
}

// Writes a file under a native path (bytes that need not be valid UTF-8).
bool writeNative(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && written;
}

QByteArray memoField(const QString& path)
{
    tagVoiceHeader header;
    return ReadVoiceHeader(path, header) ? QByteArray(header.memo, kMemoBytes) : QByteArray();
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
        QCOMPARE(summary[QStringLiteral("summary")], QJsonValue(true));
        QCOMPARE(summary[QStringLiteral("count")].toInt(), 6);
        QCOMPARE(summary[QStringLiteral("number")].toInt(), 7);
        QCOMPARE(summary[QStringLiteral("earliest")].toString(), QStringLiteral("2026-11-02"));
        const QDate latest = QDate::fromString(summary[QStringLiteral("latest")].toString(), Qt::ISODate);
        QVERIFY(latest.isValid());
        QCOMPARE(summary[QStringLiteral("label")].toString(),
                 QStringLiteral("(007)261102-%1").arg(latest.toString(QStringLiteral("yyMMdd"))));

        QStringList paths;
        for (int i = 0; i < 6; ++i) {
            const QJsonObject record = scan.lines[i];
            QVERIFY(!record.contains(QStringLiteral("summary")));
            const QString path = record[QStringLiteral("path")].toString();
            paths.append(path);
            const QFileInfo info(path);
            QVERIFY2(path.startsWith(m_card + QStringLiteral("/007_TALVEN-77/2026")), qPrintable(path));
            QCOMPARE(record[QStringLiteral("name")].toString(), info.fileName());
            // The folders are named after the recording date, which is also the file's time,
            // given in local time with its offset (tests run in Tokyo).
            const QString created = record[QStringLiteral("created")].toString();
            QVERIFY2(created.endsWith(QStringLiteral("+09:00")), qPrintable(created));
            const QDateTime time = QDateTime::fromString(created, Qt::ISODate);
            QCOMPARE(time, info.lastModified());
            QVERIFY(path.contains(time.toString(QStringLiteral("/yyyyMM/dd/"))));
            QCOMPARE(record[QStringLiteral("size")].toInteger(), info.size());
            QVERIFY(record[QStringLiteral("duration")].toInt() >= 2);
        }

        // inspect agrees with the scan and shows what the card holds.
        const Run inspect = runTool(QStringList{QStringLiteral("inspect")} + paths);
        QCOMPARE(inspect.status, 0);
        QCOMPARE(inspect.lines.size(), 6);
        int japaneseMemos = 0;
        for (int i = 0; i < 6; ++i) {
            const QJsonObject file = inspect.lines[i];
            QVERIFY(file[QStringLiteral("found")].toBool());
            // The same recording is the same object whichever command lists it.
            QCOMPARE(file, scan.lines[i]);
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
        QCOMPARE(flat.lines[0][QStringLiteral("earliest")], QJsonValue());
        QCOMPARE(flat.lines[0][QStringLiteral("latest")], QJsonValue());

        const Run deep = runTool({QStringLiteral("scan"), folder + u'/', QStringLiteral("--recursive")});
        QCOMPARE(deep.status, 0);
        QCOMPARE(deep.lines.last()[QStringLiteral("count")].toInt(), 6);
        QCOMPARE(deep.lines.last()[QStringLiteral("label")].toString(), folder);
    }

    // search answers from the index under the cache folder, made on first use and
    // refreshed for the folders given; nothing is written beside the recordings.
    void searchFromTheIndex()
    {
        const QString folder = m_dir.filePath(QStringLiteral("archive"));
        QDir().mkpath(folder + QStringLiteral("/2013-04"));
        QVERIFY(WriteFileBytes(folder + QStringLiteral("/2013-04/a.mp3"),
                               BuildRecording(MakeVoiceHeader(1, QStringLiteral("予算会議の結論")), ShortSpeechAudio()),
                               kRecorded));
        QVERIFY(WriteFileBytes(folder + QStringLiteral("/b.mp3"),
                               BuildRecording(MakeVoiceHeader(1, QStringLiteral("電話")), ShortSpeechAudio()),
                               kRecorded.addDays(3)));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString cache = m_dir.filePath(QStringLiteral("cache"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
        const QStringList before = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        const Run meeting = runTool({QStringLiteral("search"), QStringLiteral("会議"), folder}, environment);
        QCOMPARE(meeting.status, 0);
        QCOMPARE(meeting.lines.size(), 1);
        QCOMPARE(meeting.lines[0][QStringLiteral("path")].toString(), folder + QStringLiteral("/2013-04/a.mp3"));
        QCOMPARE(meeting.lines[0][QStringLiteral("memo")].toString(), QStringLiteral("予算会議の結論"));
        QCOMPARE(meeting.lines[0][QStringLiteral("created")].toString(), QStringLiteral("2013-04-15T10:00:00+09:00"));
        const Run scan = runTool({QStringLiteral("scan"), folder + QStringLiteral("/2013-04")});
        QCOMPARE(meeting.lines[0], scan.lines[0]);
        QVERIFY(QFileInfo::exists(cache + QStringLiteral("/Corvane/TALVEN-77-PC Player/index.sqlite")));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);

        const Run byDate = runTool({QStringLiteral("search"), QString(), QStringLiteral("--from"), QStringLiteral("2013-04-16"),
                                    QStringLiteral("--to"), QStringLiteral("2013-04-18"), folder},
                                   environment);
        QCOMPARE(byDate.status, 0);
        QCOMPARE(byDate.lines.size(), 1);
        QCOMPARE(byDate.lines[0][QStringLiteral("name")].toString(), QStringLiteral("b.mp3"));
        const Run byName = runTool({QStringLiteral("search"), QString(), QStringLiteral("--name"),
                                    QStringLiteral("a."), folder},
                                   environment);
        QCOMPARE(byName.lines.size(), 1);
        QCOMPARE(runTool({QStringLiteral("search"), QStringLiteral("--from"), QStringLiteral("April")}, environment).status,
                 2);
    }

    // Whatever is at the index's place, whatever limits the cache: search lists what
    // a search with a fresh index lists, with status 0, without hanging; scan too.
    void searchWhateverTheIndexIs_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder at the index's path") << "folder";
        QTest::newRow("a FIFO at the index's path") << "fifo";
        QTest::newRow("a link to a device at the index's path") << "device";
        QTest::newRow("the cache folder is a file") << "cache-file";
        QTest::newRow("a damaged index") << "damaged";
        QTest::newRow("a file-size limit (SIGXFSZ not ignored)") << "size-limit";
    }
    void searchWhateverTheIndexIs()
    {
        QFETCH(QString, kind);
        const QString folder = m_dir.filePath(QStringLiteral("odd-%1").arg(QTest::currentDataTag()).replace(u' ', u'_'));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
        for (int i = 0; i < 12; ++i) {
            const QString memo = i % 3 ? QStringLiteral("会議 %1").arg(i) : QStringLiteral("電話 %1").arg(i);
            QVERIFY(WriteFileBytes(folder + (i % 2 ? QStringLiteral("/sub/") : QStringLiteral("/"))
                                       + QStringLiteral("r%1.mp3").arg(i, 2, 10, QLatin1Char('0')),
                                   BuildRecording(MakeVoiceHeader(1, memo), ShortSpeechAudio()), kRecorded.addDays(i)));
        }
        const auto withCache = [](const QString& cache) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
            return environment;
        };
        const QStringList search{QStringLiteral("search"), QStringLiteral("会議"), folder};
        const Run fresh = runTool(search, withCache(folder + QStringLiteral("-fresh-cache")));
        QCOMPARE(fresh.status, 0);
        QCOMPARE(fresh.lines.size(), 8);

        const QString cache = folder + QStringLiteral("-cache");
        const QString indexFolder = cache + QStringLiteral("/Corvane/TALVEN-77-PC Player");
        const QString index = indexFolder + QStringLiteral("/index.sqlite");
        QVERIFY(QDir().mkpath(indexFolder));
        std::function<void()> childSetup;
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(index));
        } else if (kind == QLatin1String("fifo")) {
            QVERIFY(MakeFifo(index));
        } else if (kind == QLatin1String("device")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/null"), index));
        } else if (kind == QLatin1String("cache-file")) {
            QVERIFY(QDir(cache).removeRecursively());
            QVERIFY(WriteFileBytes(cache, "not a folder"));
        } else if (kind == QLatin1String("damaged")) {
            // An index of an earlier search, then bytes flipped in the pages after the
            // first (the first page says what the file is).
            QCOMPARE(runTool(search, withCache(cache)).status, 0);
            QFile file(index);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            QVERIFY(bytes.size() > 8 * 4096);
            for (qsizetype at = 4096 + 100; at < bytes.size(); at += 997)
                bytes[at] = char(bytes[at] ^ 0x5A);
            QVERIFY(file.seek(0));
            QCOMPARE(file.write(bytes), bytes.size());
            file.close();
        } else if (kind == QLatin1String("size-limit")) {
            // As `ulimit -f 8` does, with the signal at its default (which ends the process).
            childSetup = [] {
                std::signal(SIGXFSZ, SIG_DFL);
                const rlimit limited{8192, 8192};
                setrlimit(RLIMIT_FSIZE, &limited);
            };
        }
        for (int run = 0; run < 2; ++run) {
            const Run odd = runTool(search, withCache(cache), 20000, childSetup);
            QVERIFY2(odd.status == 0, odd.errors.constData());
            QCOMPARE(odd.lines, fresh.lines);
        }
        if (kind == QLatin1String("fifo")) {
            struct stat st {};
            QCOMPARE(::lstat(QFile::encodeName(index).constData(), &st), 0);
            QVERIFY(S_ISFIFO(st.st_mode)); // left as it is
        }
        const Run scan = runTool({QStringLiteral("scan"), folder}, withCache(cache), 20000, childSetup);
        QVERIFY2(scan.status == 0, scan.errors.constData());
        QCOMPARE(scan.lines.last()[QStringLiteral("count")].toInt(), 6);
    }

    // A recording that another program holds (as one writing its header does) is
    // waited for; one held for good is named, and the search fails.
    void searchNeverLeavesOutAHeldRecording()
    {
        const QString folder = m_dir.filePath(QStringLiteral("held"));
        QVERIFY(QDir().mkpath(folder));
        for (const QString& name : {QStringLiteral("a.mp3"), QStringLiteral("b.mp3")})
            QVERIFY(WriteFileBytes(folder + u'/' + name,
                                   BuildRecording(MakeVoiceHeader(1, QStringLiteral("会議")), ShortSpeechAudio()),
                                   kRecorded));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("held-cache")));
        const QString held = folder + QStringLiteral("/b.mp3");
        LockHeldElsewhere lock(held);
        QVERIFY(lock.held());
        const Run search = runTool({QStringLiteral("search"), QStringLiteral("会議"), folder}, environment);
        QCOMPARE(search.status, 1);
        QVERIFY2(search.errors.contains(QFile::encodeName(held)), search.errors.constData());
        lock.release();
        const Run again = runTool({QStringLiteral("search"), QStringLiteral("会議"), folder}, environment);
        QCOMPARE(again.status, 0);
        QCOMPARE(again.lines.size(), 2);
    }

    // Every command that prints JSON names a field the same way and gives it one type:
    // the recording object (inspect, edit, scan, search), scan's summary line, the
    // silences and the drives. Nothing else is in the objects.
    void fieldsOfEveryCommand_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("line"); // -1 for the last
        QTest::addColumn<QString>("fields");
        const QString recording = QStringLiteral(
            "path:string name:string found:bool mode:number playedFlag:number protectFlag:number "
            "transferredFlag:number indexMarks:array memo:string duration:number size:number created:string");
        const QString summary = QStringLiteral("summary:bool count:number earliest:string latest:string label:string");
        QTest::newRow("inspect") << QStringList{"inspect", "{folder}/F.MP3"} << 0 << recording;
        QTest::newRow("edit") << QStringList{"edit", "{folder}/E.MP3", "--played", "on"} << 0 << recording;
        QTest::newRow("scan") << QStringList{"scan", "{folder}"} << 0 << recording;
        QTest::newRow("scan --device") << QStringList{"scan", "--device", "{card}"} << 0 << recording;
        QTest::newRow("search") << QStringList{"search", "", "{folder}"} << 0 << recording;
        QTest::newRow("scan's summary") << QStringList{"scan", "{folder}"} << -1 << summary;
        QTest::newRow("scan --device's summary") << QStringList{"scan", "--device", "{card}"} << -1
                                                 << summary + QStringLiteral(" number:number");
        QTest::newRow("silences") << QStringList{"silences", "{folder}/F.MP3"} << 0
                                  << QStringLiteral("path:string duration:number noiseFloor:number silences:array");
        QTest::newRow("inspect, no recording") << QStringList{"inspect", "{folder}/none.mp3"} << 0
                                               << QStringLiteral("path:string found:bool error:string");
        QTest::newRow("drives") << QStringList{"drives"} << 0
                                << QStringLiteral("drive:string recorder:bool number:number writable:bool enoughSpace:bool");
    }

    void fieldsOfEveryCommand()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, line);
        QFETCH(QString, fields);
        const QString folder = m_dir.filePath(QStringLiteral("fields"));
        if (!QFileInfo::exists(folder)) {
            QVERIFY(QDir().mkpath(folder));
            for (const QString& name : {QStringLiteral("F.MP3"), QStringLiteral("E.MP3")})
                QVERIFY(WriteFileBytes(folder + u'/' + name,
                                       BuildRecording(MakeVoiceHeader(1, QStringLiteral("メモ"), {3}), ShortSpeechAudio()),
                                       kRecorded));
        }
        const QString drives = m_dir.filePath(QStringLiteral("fields-drives.txt"));
        QVERIFY(WriteFileBytes(drives, QStringLiteral("card %1\n").arg(m_card).toUtf8()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("fields-cache")));
        environment.insert(QStringLiteral("TALVEN77_DRIVES"), drives);
        for (QString& argument : arguments)
            argument.replace(QStringLiteral("{folder}"), folder).replace(QStringLiteral("{card}"), m_card);

        const Run run = runTool(arguments, environment);
        QVERIFY2(!run.lines.isEmpty(), run.errors.constData());
        const QJsonObject object = line < 0 ? run.lines.last() : run.lines[line];
        QStringList expectedNames;
        for (const QString& field : fields.split(u' ')) {
            const QString name = field.section(u':', 0, 0);
            const QString type = field.section(u':', 1);
            expectedNames.append(name);
            const QJsonValue value = object[name];
            const bool typed = (type == QStringLiteral("string") && value.isString())
                               || (type == QStringLiteral("number") && value.isDouble())
                               || (type == QStringLiteral("bool") && value.isBool())
                               || (type == QStringLiteral("array") && value.isArray());
            QVERIFY2(typed, qPrintable(QStringLiteral("%1 is not a %2 in %3")
                                           .arg(name, type, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)))));
        }
        QStringList names = object.keys();
        names.sort();
        expectedNames.sort();
        QCOMPARE(names, expectedNames);
        // Times are ISO 8601: local time with its offset, dates as YYYY-MM-DD.
        if (object.contains(QStringLiteral("created"))) {
            const QString created = object[QStringLiteral("created")].toString();
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\+09:00$")).match(created).hasMatch(),
                     qPrintable(created));
            if (object[QStringLiteral("path")].toString().startsWith(folder))
                QCOMPARE(QDateTime::fromString(created, Qt::ISODate), kRecorded);
        }
        for (const QString& date : {QStringLiteral("earliest"), QStringLiteral("latest")}) {
            if (object.contains(date))
                QVERIFY(QDate::fromString(object[date].toString(), Qt::ISODate).isValid());
        }
    }

    // A script may compare the lines themselves: every command writes a recording as
    // Qt's JSON writer writes the same object, with quotes, backslashes, control
    // characters and characters beyond the BMP in the memo and the name.
    void recordingLinesAreWrittenAsJsonWritesThem()
    {
        const QString folder = m_dir.filePath(QStringLiteral("escapes"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/a\"b\\c\t😀 録音.MP3");
        const QString memo = QStringLiteral("「\"引用\"」\\円\t\x01\x1f末尾ｶﾅ");
        QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(2, memo, {1, 2}), ShortSpeechAudio()), kRecorded));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("escapes-cache")));
        const QList<QStringList> commands{{QStringLiteral("inspect"), path},
                                          {QStringLiteral("scan"), folder},
                                          {QStringLiteral("search"), QStringLiteral("引用"), folder},
                                          {QStringLiteral("edit"), path, QStringLiteral("--played"), QStringLiteral("on")}};
        for (const QStringList& arguments : commands) {
            const Run run = runTool(arguments, environment);
            QVERIFY2(run.status == 0, run.errors.constData());
            const QByteArray line = run.output.left(run.output.indexOf('\n'));
            QCOMPARE(run.lines.first()[QStringLiteral("memo")].toString(), memo);
            QCOMPARE(run.lines.first()[QStringLiteral("path")].toString(), path);
            QCOMPARE(line, QJsonDocument(run.lines.first()).toJson(QJsonDocument::Compact));
        }
    }

    // A name the file system's encoding (UTF-8) cannot read is left out of what the tool
    // lists, since nothing could open it again by the name printed, and reported on the
    // error output with its bytes escaped; the exit status says something was left out.
    void undecodableNamesAreReported()
    {
        const QByteArray folder = QFile::encodeName(m_dir.filePath(QStringLiteral("undecodable")));
        QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
        QVERIFY(::mkdir(folder + "/sub\xFE", 0755) == 0);
        const QByteArray recording = BuildRecording(MakeVoiceHeader(1, QStringLiteral("会議")), ShortSpeechAudio());
        QVERIFY(writeNative(folder + "/good.mp3", recording));
        QVERIFY(writeNative(folder + "/bad\xFF.mp3", recording));
        QVERIFY(writeNative(folder + "/sub\xFE/inner.mp3", recording));
        QVERIFY(writeNative(folder + "/notes\xFF.txt", "not a recording"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.filePath(QStringLiteral("undecodable-cache")));
        const QString shown = QString::fromUtf8(folder);

        const Run flat = runTool({QStringLiteral("scan"), shown}, environment);
        QCOMPARE(flat.status, 1);
        QCOMPARE(flat.lines.size(), 2);
        QCOMPARE(flat.lines[0][QStringLiteral("name")].toString(), QStringLiteral("good.mp3"));
        QCOMPARE(flat.lines[1][QStringLiteral("count")].toInt(), 1);
        const QString flatErrors = QString::fromUtf8(flat.errors);
        QVERIFY2(flatErrors.contains(shown + QStringLiteral("/bad\\xFF.mp3")), flat.errors.constData());
        QVERIFY2(!flatErrors.contains(QStringLiteral("notes")), flat.errors.constData()); // no recording by its name
        QVERIFY2(!flatErrors.contains(QStringLiteral("sub")), flat.errors.constData());   // not looked into

        const Run deep = runTool({QStringLiteral("scan"), shown, QStringLiteral("--recursive")}, environment);
        QCOMPARE(deep.status, 1);
        QCOMPARE(deep.lines.last()[QStringLiteral("count")].toInt(), 1);
        QVERIFY2(deep.errors.contains("/bad\\xFF.mp3"), deep.errors.constData());
        QVERIFY2(deep.errors.contains("/sub\\xFE"), deep.errors.constData());

        const Run search = runTool({QStringLiteral("search"), QStringLiteral("会議"), shown}, environment);
        QCOMPARE(search.status, 1);
        QCOMPARE(search.lines.size(), 1);
        QCOMPARE(search.lines[0][QStringLiteral("name")].toString(), QStringLiteral("good.mp3"));
        QVERIFY2(search.errors.contains("/bad\\xFF.mp3"), search.errors.constData());
        QVERIFY2(search.errors.contains("/sub\\xFE"), search.errors.constData());

        // Once the folders have held still, the index keeps them as read whole, and the
        // searches that find them unchanged without reading them name the same entries.
        QTest::qWait(120);
        for (int run = 0; run < 2; ++run) {
            const Run warm = runTool({QStringLiteral("search"), QStringLiteral("会議"), shown}, environment);
            QCOMPARE(warm.status, 1);
            QCOMPARE(warm.lines, search.lines);
            QCOMPARE(warm.errors, search.errors);
        }
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
        const QString first = scan.lines.value(0)[QStringLiteral("path")].toString();
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

    // play runs the play program beside the tool; a tool without it says so and fails.
    void playWithoutItsProgramFailsClearly()
    {
        const QString alone = m_dir.filePath(QStringLiteral("alone"));
        QVERIFY(QDir().mkpath(alone));
        const QString tool = alone + QStringLiteral("/talven77-tool");
        QVERIFY(QFile::copy(QStringLiteral(TALVEN77_TOOL), tool));
        QProcess process;
        process.start(tool, {QStringLiteral("play"), m_dir.filePath(QStringLiteral("any.mp3"))});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        // Neither beside the tool nor where an installation puts it.
        const QString installed = QDir::cleanPath(alone + QStringLiteral("/../libexec/talven77-pc-player/talven77-tool-play"));
        QVERIFY2(errors.contains(QStringLiteral("play: cannot start ") + installed), qPrintable(errors));
    }

    void editChangesTheHeader_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QJsonObject>("changes"); // fields that differ from before the edit
        const auto marks = [](std::initializer_list<QJsonValue> values, QJsonObject others = {}) {
            QJsonArray array;
            for (const QJsonValue& value : values)
                array.append(value);
            while (array.size() < kIndexMarkCount)
                array.append(QJsonValue());
            others.insert(QStringLiteral("indexMarks"), array);
            return others;
        };
        QTest::newRow("played on writes 2")
            << QStringList{"--played", "on"} << QJsonObject{{"playedFlag", 2}};
        QTest::newRow("protect off")
            << QStringList{"--protect", "off"} << QJsonObject{{"protectFlag", 0}};
        QTest::newRow("protect on again") << QStringList{"--protect", "on"} << QJsonObject{};
        QTest::newRow("transferred on writes 1")
            << QStringList{"--transferred", "on"} << QJsonObject{{"transferredFlag", 1}};
        QTest::newRow("memo")
            << QStringList{"--memo", "新しいメモ"} << QJsonObject{{"memo", "新しいメモ"}};
        QTest::newRow("memo of 256 bytes")
            << QStringList{"--memo", QString(128, u'会')} << QJsonObject{{"memo", QString(128, u'会')}};
        QTest::newRow("memo cleared") << QStringList{"--memo", ""} << QJsonObject{{"memo", ""}};
        QTest::newRow("marks: zero and repeat emptied, sorted")
            << QStringList{"--marks", "0,30,30,10"} << marks({10, 30});
        QTest::newRow("marks: empty text clears them") << QStringList{"--marks", ""} << marks({});
        QTest::newRow("marks: largest value and leading zeros")
            << QStringList{"--marks", "4294967294,007,1"} << marks({1, 7, qint64(4294967294)});
        QTest::newRow("marks: five")
            << QStringList{"--marks", "50,40,30,20,10"} << marks({10, 20, 30, 40, 50});
        QTest::newRow("everything at once")
            << QStringList{"--protect", "off", "--played", "on", "--transferred", "on",
                           "--marks", "3,2,1", "--memo", "x"}
            << marks({1, 2, 3},
                     {{"protectFlag", 0}, {"playedFlag", 2}, {"transferredFlag", 1}, {"memo", "x"}});
    }
    void editChangesTheHeader()
    {
        QFETCH(QStringList, options);
        QFETCH(QJsonObject, changes);
        const tagVoiceHeader base = editBase();
        const QByteArray bytes = BuildRecording(base, ShortSpeechAudio());
        const QString path = m_dir.filePath(
            QStringLiteral("edit/%1.mp3").arg(QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(WriteFileBytes(path, bytes, kRecorded));
        const Run before = runTool({QStringLiteral("inspect"), path});
        QCOMPARE(before.lines.size(), 1);
        QJsonObject expected = before.lines[0];
        for (auto it = changes.begin(); it != changes.end(); ++it)
            expected.insert(it.key(), it.value());

        const Run edit = runTool(QStringList{QStringLiteral("edit"), path} + options);
        QVERIFY2(edit.status == 0, edit.errors.constData());
        QVERIFY(edit.errors.isEmpty());
        QCOMPARE(edit.lines, QList<QJsonObject>{expected});
        QCOMPARE(runTool({QStringLiteral("inspect"), path}).lines, QList<QJsonObject>{expected});

        // Nothing outside the fields asked for changed, and the times stay.
        const QByteArray after = ReadWholeFile(path);
        QCOMPARE(after.size(), bytes.size());
        QCOMPARE(after.left(kBody), bytes.left(kBody));
        QCOMPARE(after.mid(kBody + 492), bytes.mid(kBody + 492));
        tagVoiceHeader header;
        QVERIFY(ReadVoiceHeader(path, header));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(header.reserved0), 16),
                 QByteArray(reinterpret_cast<const char*>(base.reserved0), 16));
        QCOMPARE(header.reserved19, base.reserved19);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(header.reserved41), 195),
                 QByteArray(reinterpret_cast<const char*>(base.reserved41), 195));
        QCOMPARE(header.mode, base.mode);
        if (changes.contains(QStringLiteral("memo"))) {
            // The whole field is cleared before the new text goes in.
            const QString text = changes[QStringLiteral("memo")].toString();
            const QByteArray memo = UnicodeToCp932(text).bytes;
            QCOMPARE(memoField(path), memo + QByteArray(kMemoBytes - memo.size(), '\0'));
        }
        QCOMPARE(QFileInfo(path).lastModified(), kRecorded);
    }

    void editRefusesBadOptions_data()
    {
        // FILE stands for the recording. A good option comes first where one can:
        // the refusal comes before any file is touched.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const auto after = [](const QStringList& options) {
            return QStringList{"FILE", "--played", "on"} + options;
        };
        QTest::newRow("memo over 256 bytes")
            << after({"--memo", QString(128, u'会') + u'a'})
            << "文字数が多すぎます。半角256文字（全角128文字）以内で入力してください。";
        QTest::newRow("memo CP932 cannot hold")
            << after({"--memo", "メモ한글"})
            << "「한」は使用できない文字です。別の文字に置き換えてください。";
        QTest::newRow("six marks") << after({"--marks", "1,2,3,4,5,6"}) << "at most 5 index marks";
        QTest::newRow("negative mark") << after({"--marks", "-1"}) << "index mark \"-1\"";
        QTest::newRow("the empty-slot value")
            << after({"--marks", "4294967295"}) << "index mark \"4294967295\"";
        QTest::newRow("beyond 32 bits")
            << after({"--marks", "1,4294967296"}) << "index mark \"4294967296\"";
        QTest::newRow("signed mark") << after({"--marks", "+5"}) << "index mark \"+5\"";
        QTest::newRow("empty mark between commas")
            << after({"--marks", "1,,2"}) << "index mark \"\"";
        QTest::newRow("fraction") << after({"--marks", "1.5"}) << "index mark \"1.5\"";
        QTest::newRow("flag neither on nor off")
            << after({"--protect", "yes"}) << "yes is neither on nor off";
        QTest::newRow("option without its value")
            << after({"--memo"}) << "bad argument near --memo";
        QTest::newRow("unknown option") << after({"--mode", "2"}) << "bad argument near --mode";
        QTest::newRow("no options") << QStringList{"FILE"} << "usage: edit FILE...";
        QTest::newRow("no file") << QStringList{"--played", "on"} << "usage: edit FILE...";
    }
    void editRefusesBadOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QByteArray bytes = BuildRecording(editBase(), ShortSpeechAudio());
        const QString path = m_dir.filePath(QStringLiteral("refused.mp3"));
        QVERIFY(WriteFileBytes(path, bytes, kRecorded));
        arguments.replaceInStrings(QRegularExpression(QStringLiteral("^FILE$")), path);
        const Run edit = runTool(QStringList{QStringLiteral("edit")} + arguments);
        QCOMPARE(edit.status, 2);
        QVERIFY(edit.lines.isEmpty());
        QVERIFY2(QString::fromUtf8(edit.errors).contains(message), edit.errors.constData());
        QCOMPARE(ReadWholeFile(path), bytes);
        QCOMPARE(QFileInfo(path).lastModified(), kRecorded);
    }

    void editFailsForFilesWithoutAHeader()
    {
        const QString good = m_dir.filePath(QStringLiteral("mixed/good.mp3"));
        const QString plain = m_dir.filePath(QStringLiteral("mixed/plain.mp3"));
        const QString missing = m_dir.filePath(QStringLiteral("mixed/missing.mp3"));
        QVERIFY(WriteFileBytes(good, BuildRecording(editBase(), ShortSpeechAudio()), kRecorded));
        QVERIFY(WriteFileBytes(plain, ShortSpeechAudio(), kRecorded));
        // A tag that declares only the XPCC frame's header, audio straight after it.
        const QString outside = m_dir.filePath(QStringLiteral("mixed/outside.mp3"));
        const QByteArray outsideBytes = QByteArrayLiteral("ID3\x03\x00\x00\x00\x00\x00\x0AXPCC")
                                        + QByteArray(6, '\0') + ShortSpeechAudio();
        QVERIFY(WriteFileBytes(outside, outsideBytes, kRecorded));
        const Run edit = runTool({QStringLiteral("edit"), plain, good, missing, outside,
                                  QStringLiteral("--protect"), QStringLiteral("off")});
        QCOMPARE(edit.status, 1);
        // Each file on its own: the good one is changed all the same.
        QCOMPARE(edit.lines.size(), 1);
        QCOMPARE(edit.lines[0][QStringLiteral("path")].toString(), good);
        QCOMPARE(edit.lines[0][QStringLiteral("protectFlag")].toInt(), 0);
        const QString errors = QString::fromUtf8(edit.errors);
        QVERIFY2(errors.contains(plain + QStringLiteral(": not a recording: the file has no ID3v2 tag")),
                 qPrintable(errors));
        const QString noSuchFile = QString::fromLocal8Bit(std::strerror(ENOENT));
        QVERIFY(errors.contains(missing + QStringLiteral(": ") + noSuchFile));
        QVERIFY2(errors.contains(outside + QStringLiteral(": the recording header does not lie inside")),
                 qPrintable(errors));
        QCOMPARE(ReadWholeFile(outside), outsideBytes);
        QCOMPARE(ReadWholeFile(plain), ShortSpeechAudio());
        QCOMPARE(QFileInfo(plain).lastModified(), kRecorded);
        QVERIFY(!QFile::exists(missing));
    }

    void editReportsAFailedWrite()
    {
        // A file-size limit in the tool's process that falls inside the header's
        // body stops the write after its first hundred bytes.
        const QByteArray bytes = BuildRecording(editBase(), ShortSpeechAudio());
        const QString path = m_dir.filePath(QStringLiteral("limited.mp3"));
        QVERIFY(WriteFileBytes(path, bytes, kRecorded));
        const auto limitFileSize = [] {
            const rlim_t limit = rlim_t(kBody + 100);
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limited{limit, limit};
            setrlimit(RLIMIT_FSIZE, &limited);
        };
        const Run edit = runTool(
            {QStringLiteral("edit"), path, QStringLiteral("--played"), QStringLiteral("on")},
            QProcessEnvironment::systemEnvironment(), 120000, limitFileSize);
        QCOMPARE(edit.status, 1);
        QVERIFY(edit.lines.isEmpty());
        const QString errors = QString::fromUtf8(edit.errors);
        QVERIFY2(errors.contains(QStringLiteral("ヘッダが更新できません。書込み禁止になっていないか確認してください。")),
                 qPrintable(errors));
        QVERIFY(errors.contains(path + QStringLiteral(": the header could not be written")));
        QCOMPARE(ReadWholeFile(path).left(kBody), bytes.left(kBody));
    }

    void editHoldsOneOpenAndKeepsBothTimes()
    {
        const QByteArray bytes = BuildRecording(editBase(), ShortSpeechAudio());
        const QString path = m_dir.filePath(QStringLiteral("times/once.mp3"));
        QVERIFY(WriteFileBytes(path, bytes, kRecorded));
        QCOMPARE(QFileInfo(path).lastRead(), kRecorded);
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(path).constData(),
                                  IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0);

        const Run edit = runTool({QStringLiteral("edit"), path, QStringLiteral("--marks"), QStringLiteral("0,8")});
        QVERIFY2(edit.status == 0, edit.errors.constData());
        QCOMPARE(edit.lines.size(), 1);
        QCOMPARE(edit.lines[0][QStringLiteral("indexMarks")].toArray().first().toInt(), 8);

        // One open, for writing, from the read to the write: the lock taken
        // there covers both, and nothing reads the file once it is written.
        QList<uint32_t> events;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                events.append(event->mask & (IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE));
                at += sizeof(inotify_event) + event->len;
            }
        }
        ::close(watch);
        QCOMPARE(events, (QList<uint32_t>{IN_OPEN, IN_CLOSE_WRITE}));
        // The times as they were before the edit read anything.
        QCOMPARE(QFileInfo(path).lastRead(), kRecorded);
        QCOMPARE(QFileInfo(path).lastModified(), kRecorded);

        // A file that another process holds is refused and left as it is.
        const QByteArray edited = ReadWholeFile(path);
        LockHeldElsewhere held(path);
        QVERIFY(held.held());
        const Run refused = runTool({QStringLiteral("edit"), path, QStringLiteral("--played"), QStringLiteral("on")});
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.errors.contains("the file is in use"), refused.errors.constData());
        held.release();
        QCOMPARE(ReadWholeFile(path), edited);

        // The help says what a mark of 0 does.
        QString help;
        for (const QJsonObject& line : runTool({QStringLiteral("--help")}).lines)
            help += line[QStringLiteral("unparsable")].toString();
        QVERIFY2(help.contains(QStringLiteral("of 0 means an empty slot")), qPrintable(help));
    }

    void helpOfEveryCommand_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QStringList>("options"); // what the command takes, which its help names
        const QStringList edit{QStringLiteral("--memo"), QStringLiteral("--protect"), QStringLiteral("--played"),
                               QStringLiteral("--transferred"), QStringLiteral("--marks")};
        const QStringList scan{QStringLiteral("--recursive"), QStringLiteral("--device")};
        const QStringList makeCard{QStringLiteral("--number"), QStringLiteral("--recordings"), QStringLiteral("--seed"),
                                   QStringLiteral("--silences")};
        const QStringList search{QStringLiteral("--name"), QStringLiteral("--from"), QStringLiteral("--to"),
                                 QStringLiteral("--protected"), QStringLiteral("--unplayed"),
                                 QStringLiteral("--untransferred")};
        const QStringList play{QStringLiteral("--speed"), QStringLiteral("--from"), QStringLiteral("--to"),
                               QStringLiteral("--volume")};
        const QStringList silences{QStringLiteral("--threshold"), QStringLiteral("--min")};
        const QStringList exportOptions{QStringLiteral("--to"), QStringLiteral("--section"),
                                        QStringLiteral("--marked-section"), QStringLiteral("--format"),
                                        QStringLiteral("--title")};
        const QList<std::pair<const char*, QStringList>> commands{
            {"inspect", {}}, {"edit", edit}, {"scan", scan}, {"make-card", makeCard}, {"search", search},
            {"drives", {}}, {"play", play}, {"silences", silences}, {"export", exportOptions}};
        for (const auto& [command, options] : commands) {
            for (const char* flag : {"--help", "-h"})
                QTest::addRow("%s %s", command, flag) << QString::fromLatin1(command) << QString::fromLatin1(flag)
                                                      << options;
        }
    }

    void helpOfEveryCommand()
    {
        QFETCH(QString, command);
        QFETCH(QString, flag);
        QFETCH(QStringList, options);
        const auto text = [](const Run& run) {
            QString joined;
            for (const QJsonObject& line : run.lines)
                joined += line[QStringLiteral("unparsable")].toString() + u'\n';
            return joined;
        };

        const Run help = runTool({command, flag});
        QCOMPARE(help.status, 0);
        QVERIFY2(help.errors.isEmpty(), help.errors.constData());
        const QString usage = text(help);
        QVERIFY2(usage.contains(QStringLiteral("  ") + command + u' '), qPrintable(usage));
        for (const QString& option : options)
            QVERIFY2(usage.contains(option), qPrintable(option + QStringLiteral(" missing from:\n") + usage));

        // The list of every command holds this one's usage whole.
        const Run all = runTool({flag});
        QCOMPARE(all.status, 0);
        const QString list = text(all);
        QVERIFY2(list.contains(usage.section(u'\n', 1)), qPrintable(list));

        // Without a command the list goes to standard error, as a mistake.
        const Run none = runTool({});
        QCOMPARE(none.status, 2);
        QVERIFY(none.lines.isEmpty());
        QVERIFY(none.errors.contains(command.toUtf8()));
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

    void silencesOfRecordings()
    {
        const QString folder = m_dir.filePath(QStringLiteral("silences"));
        QVERIFY(QDir().mkpath(folder));
        const QString pauses = folder + QStringLiteral("/PAUSES.MP3");
        const EncodedMp3 audio = EncodeMp3Spans(
            RecorderFormat(0), {{Signal::Speech, 3}, {Signal::Silence, 4}, {Signal::Speech, 3}, {Signal::Silence, 2.5}, {Signal::Speech, 2}}, 9);
        QVERIFY(audio.ok);
        QVERIFY(WriteFileBytes(pauses, BuildRecording(MakeVoiceHeader(0), audio.bytes)));
        const QString text = folder + QStringLiteral("/notes.mp3");
        QVERIFY(WriteFileBytes(text, "just text"));
        QVERIFY(MakeFifo(folder + QStringLiteral("/pipe.mp3")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString cacheHome = m_dir.filePath(QStringLiteral("cache-home"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);

        const auto starts = [](const QJsonObject& line) {
            QList<double> seconds;
            for (const QJsonValue& stretch : line[QStringLiteral("silences")].toArray())
                seconds << stretch[QStringLiteral("start")].toDouble() << stretch[QStringLiteral("end")].toDouble();
            return seconds;
        };
        // Where the fixture put its pauses, heard 138 ms late (the encoder's delay, which
        // the long-play frames cannot announce), each edge within a tenth of a second.
        const auto near = [](const QList<double>& found, const QList<double>& expected) {
            if (found.size() != expected.size())
                return false;
            for (qsizetype i = 0; i < found.size(); ++i) {
                if (std::abs(found[i] - expected[i] - 0.138) > 0.1)
                    return false;
            }
            return true;
        };
        const Run defaults = runTool({QStringLiteral("silences"), pauses, text, folder + QStringLiteral("/pipe.mp3")},
                                     environment, 20000);
        QCOMPARE(defaults.status, 1);
        QCOMPARE(defaults.lines.size(), 3);
        QVERIFY2(near(starts(defaults.lines[0]), {3, 7, 10, 12.5}), QJsonDocument(defaults.lines[0]).toJson());
        QCOMPARE(defaults.lines[0][QStringLiteral("path")].toString(), pauses);
        QVERIFY(!defaults.lines[1][QStringLiteral("error")].toString().isEmpty());
        QVERIFY(!defaults.lines[2][QStringLiteral("error")].toString().isEmpty());
        // The envelope went into the user's cache, nowhere near the recording.
        QCOMPARE(QDir(cacheHome + QStringLiteral("/Corvane/TALVEN-77-PC Player/envelopes")).entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden).size(), 3);

        const Run longer = runTool({QStringLiteral("silences"), pauses, QStringLiteral("--min"), QStringLiteral("3"),
                                    QStringLiteral("--threshold"), QStringLiteral("12")},
                                   environment, 20000);
        QCOMPARE(longer.status, 0);
        QVERIFY(near(starts(longer.lines.value(0)), {3, 7}));

        for (const QStringList& bad : {QStringList{QStringLiteral("silences")},
                                       QStringList{QStringLiteral("silences"), pauses, QStringLiteral("--min"), QStringLiteral("0.5")},
                                       QStringList{QStringLiteral("silences"), pauses, QStringLiteral("--min"), QStringLiteral("11")},
                                       QStringList{QStringLiteral("silences"), pauses, QStringLiteral("--threshold"), QStringLiteral("loud")},
                                       QStringList{QStringLiteral("silences"), pauses, QStringLiteral("--min")}}) {
            const Run refused = runTool(bad, environment, 20000);
            QCOMPARE(refused.status, 2);
            QVERIFY(refused.lines.isEmpty());
            QVERIFY(refused.errors.contains("silences"));
        }
    }

    // export prints each output's path; a WAV's length shows the span taken.
    void exportWritesEachFile()
    {
        const EncodedMp3 audio = EncodeMp3(Mp3Format{}, 12.0, 3);
        QVERIFY(audio.ok);
        const QString marked = m_dir.filePath(QStringLiteral("MARKED.MP3"));
        const QString plain = m_dir.filePath(QStringLiteral("PLAIN.MP3"));
        QVERIFY(WriteFileBytes(marked, BuildRecording(MakeVoiceHeader(1, {}, {9, 3}), audio.bytes)));
        QVERIFY(WriteFileBytes(plain, BuildRecording(MakeVoiceHeader(1), audio.bytes)));
        QTemporaryDir out;
        const auto dataBytes = [](const QString& wav) { return ReadWholeFile(wav).size() - 44; };

        const Run wavs = runTool({QStringLiteral("export"), marked, plain, QStringLiteral("--to"), out.path(),
                                  QStringLiteral("--marked-section"), QStringLiteral("--format"), QStringLiteral("wav")});
        QCOMPARE(wavs.status, 0);
        QCOMPARE(wavs.lines.size(), 2);
        const QString markedWav = wavs.lines[0][QStringLiteral("unparsable")].toString();
        const QString plainWav = wavs.lines[1][QStringLiteral("unparsable")].toString();
        QCOMPARE(markedWav, QDir(out.path()).filePath(QStringLiteral("MARKED.WAV")));
        QCOMPARE(dataBytes(markedWav), (9 - 3) * 8000 * 2);
        QVERIFY(dataBytes(plainWav) >= 12 * 8000 * 2); // no marks: the whole recording, every frame

        const Run section = runTool({QStringLiteral("export"), plain, QStringLiteral("--to"), out.path(),
                                     QStringLiteral("--section"), QStringLiteral("1-2.5"), QStringLiteral("--format"),
                                     QStringLiteral("wav")});
        QCOMPARE(section.status, 0);
        const QString second = section.lines.value(0)[QStringLiteral("unparsable")].toString();
        QCOMPARE(second, QDir(out.path()).filePath(QStringLiteral("PLAIN(2).WAV")));
        QCOMPARE(dataBytes(second), 12000 * 2);

        const Run mp3 = runTool({QStringLiteral("export"), m_dir.filePath(QStringLiteral("none.mp3")), plain,
                                 QStringLiteral("--to"), out.path()});
        QCOMPARE(mp3.status, 1); // the missing file fails, the other one is exported
        QCOMPARE(mp3.lines.size(), 1);
        QVERIFY(QFileInfo(mp3.lines[0][QStringLiteral("unparsable")].toString()).size() > 0);
        QVERIFY(!mp3.errors.isEmpty());

        for (const QStringList& bad : {QStringList{plain}, QStringList{plain, QStringLiteral("--to")},
                                       QStringList{plain, QStringLiteral("--to"), out.path(), QStringLiteral("--format"), QStringLiteral("ogg")},
                                       QStringList{plain, QStringLiteral("--to"), out.path(), QStringLiteral("--section"), QStringLiteral("5-2")}})
            QCOMPARE(runTool(QStringList{QStringLiteral("export")} + bad).status, 2);
    }
};

TALVEN77_REGISTER_TEST(ToolTest);
#include "ToolTest.moc"
