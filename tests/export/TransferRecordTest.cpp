#include "TestRegistry.h"
#include "export/TransferRecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>

namespace {

TransferRecordEntry entry(int n)
{
    TransferRecordEntry e;
    e.time = QDateTime(QDate(2024, 5, 1), QTime(9, n, 0));
    e.recorderNumber = 7;
    e.source = QStringLiteral("/media/card/VOICE/REC%1.MP3").arg(n);
    e.destination = QStringLiteral("/home/u/save/REC%1.MP3").arg(n);
    e.size = 1000 + n;
    e.verified = true;
    e.marked = n % 2 == 0;
    return e;
}

// One entry's line as the program writes it, with the size given as it stands in the file.
QByteArray lineWithSize(const QByteArray& size)
{
    return "{\"time\":\"2024-05-01T00:30:00Z\",\"recorder\":7,\"source\":\"/media/card/REC9.MP3\","
           "\"destination\":\"/home/u/save/REC9.MP3\",\"size\":"
           + size + ",\"verified\":true,\"marked\":false}\n";
}

bool writeRecord(const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(TransferRecord::FilePath()).absolutePath());
    QFile file(TransferRecord::FilePath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList destinations(const QList<TransferRecordEntry>& entries)
{
    QStringList result;
    for (const TransferRecordEntry& e : entries)
        result.append(QFileInfo(e.destination).fileName());
    return result;
}

} // namespace

// The user's record of transfers: appended to, read back newest first, and never
// thrown off by a line that a crash or a damaged disk left behind.
class TransferRecordTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        QFile::remove(TransferRecord::FilePath());
    }

    void entriesComeBackNewestFirst()
    {
        QVERIFY(TransferRecord::Append({entry(1), entry(2)}));
        QVERIFY(TransferRecord::Append({entry(3)}));
        const QList<TransferRecordEntry> entries = TransferRecord::ReadAll();
        QCOMPARE(destinations(entries), (QStringList{"REC3.MP3", "REC2.MP3", "REC1.MP3"}));
        QCOMPARE(entries[1].time, entry(2).time);
        QCOMPARE(entries[1].source, entry(2).source);
        QCOMPARE(entries[1].size, int64_t(1002));
        QCOMPARE(entries[1].recorderNumber, 7);
        QVERIFY(entries[1].verified);
        QVERIFY(entries[1].marked);
        QVERIFY(!entries[0].marked);
    }

    // A crash in the middle of a write leaves a last line without its end: the next
    // entry starts a line of its own and is read back.
    void aLineCutShortDoesNotSwallowTheNext_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("readable");
        QTest::newRow("cut inside the object") << QByteArray("{\"time\":\"2024-05-01T00:1") << 0;
        QTest::newRow("whole object, no line end") << lineWithSize("55").chopped(1) << 1;
        QTest::newRow("a single byte") << QByteArray("{") << 0;
    }

    void aLineCutShortDoesNotSwallowTheNext()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, readable);
        QVERIFY(TransferRecord::Append({entry(1)}));
        QFile file(TransferRecord::FilePath());
        QVERIFY(file.open(QIODevice::Append));
        QCOMPARE(file.write(tail), tail.size());
        file.close();

        QVERIFY(TransferRecord::Append({entry(2)}));
        QVERIFY(TransferRecord::Append({entry(3)}));
        const QStringList read = destinations(TransferRecord::ReadAll());
        QVERIFY2(read.contains(QStringLiteral("REC2.MP3")), qPrintable(read.join(u' ')));
        QCOMPARE(read.size(), 3 + readable);
    }

    // Sizes the program never writes: the line is passed over, the others stand.
    void aSizeThatCannotBeRightIsPassedOver_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<bool>("kept");
        QTest::newRow("far beyond any file") << QByteArray("1e300") << false;
        QTest::newRow("beyond 64 bits") << QByteArray("18446744073709551616") << false;
        QTest::newRow("negative") << QByteArray("-4") << false;
        QTest::newRow("a fraction") << QByteArray("12.5") << false;
        QTest::newRow("text") << QByteArray("\"12\"") << false;
        QTest::newRow("an ordinary size") << QByteArray("123456") << true;
        QTest::newRow("beyond 4 GB") << QByteArray("5000000000") << true;
    }

    void aSizeThatCannotBeRightIsPassedOver()
    {
        QFETCH(QByteArray, size);
        QFETCH(bool, kept);
        QVERIFY(writeRecord(lineWithSize("10") + lineWithSize(size)));
        const QList<TransferRecordEntry> entries = TransferRecord::ReadAll();
        QCOMPARE(entries.size(), kept ? 2 : 1);
        if (kept)
            QCOMPARE(QByteArray::number(qlonglong(entries[0].size)), size);
    }

    // Something else than a file at the record's place: nothing is written and nothing
    // read, at once.
    void aFifoInTheRecordsPlace()
    {
        QDir().mkpath(QFileInfo(TransferRecord::FilePath()).absolutePath());
        QVERIFY(::mkfifo(QFile::encodeName(TransferRecord::FilePath()).constData(), 0600) == 0);
        QVERIFY(!TransferRecord::Append({entry(1)}));
        QVERIFY(TransferRecord::ReadAll().isEmpty());
        QVERIFY(QFile::remove(TransferRecord::FilePath()));
    }

    // The parser a fuzzing harness drives: lines as bytes, in their order, the rest passed over.
    void parsedFromBytes()
    {
        const QByteArray bytes = lineWithSize("1") + QByteArray("\n\r\n{}\nnot json\n") + lineWithSize("2").chopped(1);
        const QList<TransferRecordEntry> entries = ParseTransferRecord(bytes);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].size, int64_t(1));
        QCOMPARE(entries[1].size, int64_t(2));
        QVERIFY(ParseTransferRecord(QByteArrayView()).isEmpty());
    }
};

TALVEN77_REGISTER_TEST(TransferRecordTest);
#include "TransferRecordTest.moc"
