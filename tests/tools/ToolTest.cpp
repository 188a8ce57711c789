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
#include <cstring>
#include <functional>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Run
{
    int status = -1;
    QList<QJsonObject> lines;
    QByteArray errors;
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
        QCOMPARE(meeting.lines[0][QStringLiteral("szFilePath")].toString(), folder + QStringLiteral("/2013-04/a.mp3"));
        const Run scan = runTool({QStringLiteral("scan"), folder + QStringLiteral("/2013-04")});
        QCOMPARE(meeting.lines[0], scan.lines[0]);
        QVERIFY(QFileInfo::exists(cache + QStringLiteral("/Corvane/TALVEN-77-PC Player/index.sqlite")));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);

        const Run byDate = runTool({QStringLiteral("search"), QString(), QStringLiteral("--from"), QStringLiteral("2013-04-16"),
                                    QStringLiteral("--to"), QStringLiteral("2013-04-18"), folder},
                                   environment);
        QCOMPARE(byDate.status, 0);
        QCOMPARE(byDate.lines.size(), 1);
        QCOMPARE(byDate.lines[0][QStringLiteral("szFileName")].toString(), QStringLiteral("b.mp3"));
        const Run byName = runTool({QStringLiteral("search"), QString(), QStringLiteral("--name"),
                                    QStringLiteral("a."), folder},
                                   environment);
        QCOMPARE(byName.lines.size(), 1);
        QCOMPARE(runTool({QStringLiteral("search"), QStringLiteral("--from"), QStringLiteral("April")}, environment).status,
                 2);
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
