#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "export/RecordingListCsv.h"
#include "recording/RecordingColumns.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An RFC 4180 reader: quoted fields with doubled quotes and line breaks, CRLF rows.
QList<QStringList> parseCsv(const QString& text)
{
    QList<QStringList> rows;
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"') {
                field += u'"';
                ++i;
            } else if (c == u'"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields.append(field);
            field.clear();
        } else if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            fields.append(field);
            rows.append(fields);
            fields.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return rows;
}

tagFileList record(const QString& name, const QString& memo, const QList<uint32_t>& marks, int64_t time)
{
    tagFileList r;
    r.szFileName = name;
    r.szFilePath = QStringLiteral("/save/") + name;
    r.tmCreate = time;
    r.nDuration = 3725;
    r.nFileSize = 123456;
    r.header = MakeVoiceHeader(2, memo, marks);
    return r;
}

// The rows as Python's csv module reads the file (the reader most scripts use), or an
// empty list when python3 is not there.
QList<QStringList> pythonCsvRows(const QString& path)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                                 "    json.dump(list(csv.reader(f)), sys.stdout)\n"),
                  path});
    if (!python.waitForFinished(60000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    for (const QJsonValue& row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList fields;
        for (const QJsonValue& field : row.toArray())
            fields.append(field.toString());
        rows.append(fields);
    }
    return rows;
}

} // namespace

class CsvTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every column of every record, in the order given, read back by a CSV reader; texts
    // with commas, quotes and line breaks survive.
    void listReadsBack()
    {
        const QList<tagFileList> records{
            record(QStringLiteral("会議.MP3"), QStringLiteral("予算, 来期\r\n\"確定\""), {5, 60}, 1700000000),
            record(QStringLiteral("A.MP3"), QString(), {}, 1600000000),
            record(QStringLiteral("B,1.MP3"), QStringLiteral("メモ"), {1}, 1650000000),
        };
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.csv"));
        QVERIFY(WriteFileBytes(path, "old"));
        QVERIFY(WriteRecordingListCsv(path, records).ok());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QList<QStringList> rows = parseCsv(QString::fromUtf8(bytes.mid(3)));
        QCOMPARE(rows.size(), records.size() + 1);
        for (int key = 0; key < kColumnKeys; ++key)
            QCOMPARE(rows[0][key], ColumnHeaderText(key).trimmed());
        for (qsizetype i = 0; i < records.size(); ++i) {
            QCOMPARE(rows[i + 1].size(), kColumnKeys);
            const RowTexts texts = RecordRowTexts(records[i]);
            for (int key = 0; key < kColumnKeys; ++key)
                QCOMPARE(rows[i + 1][key], texts[size_t(key)].trimmed());
        }
        QCOMPARE(rows[1][kKeyName], QStringLiteral("会議.MP3"));
        QCOMPARE(rows[3][kKeyName], QStringLiteral("B,1.MP3"));
        QVERIFY(rows[1][kKeyMemo].contains(QStringLiteral("\"確定\"")));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    void cellsAsWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("memo");
        QTest::addColumn<QString>("nameCell");
        QTest::addColumn<QString>("memoCell");
        const QString plain = QStringLiteral("REC00001.MP3");
        QTest::newRow("leading spaces kept") << plain << QStringLiteral("  字下げ") << plain << QStringLiteral("  字下げ");
        QTest::newRow("ideographic space kept") << plain << QStringLiteral("　全角") << plain << QStringLiteral("　全角");
        // A spreadsheet takes a cell that begins with one of these for a formula.
        QTest::newRow("equals") << plain << QStringLiteral("=1+2") << plain << QStringLiteral("'=1+2");
        QTest::newRow("plus") << plain << QStringLiteral("+81 3 1234") << plain << QStringLiteral("'+81 3 1234");
        QTest::newRow("minus") << plain << QStringLiteral("-3 dB") << plain << QStringLiteral("'-3 dB");
        QTest::newRow("at") << plain << QStringLiteral("@SUM(A1)") << plain << QStringLiteral("'@SUM(A1)");
        QTest::newRow("tab") << plain << QStringLiteral("\t=1") << plain << QStringLiteral("'\t=1");
        QTest::newRow("carriage return") << plain << QStringLiteral("\r=1") << plain << QStringLiteral("'\r\n=1");
        QTest::newRow("formula after spaces") << plain << QStringLiteral(" =1") << plain << QStringLiteral(" =1");
        QTest::newRow("name with a formula") << QStringLiteral("=HYPERLINK(1).MP3") << QString()
                                             << QStringLiteral("'=HYPERLINK(1).MP3") << QString();
        // Line breaks inside a cell are CRLF, as the rows' ends.
        QTest::newRow("LF") << plain << QStringLiteral("一行目\n二行目") << plain << QStringLiteral("一行目\r\n二行目");
        QTest::newRow("CR") << plain << QStringLiteral("一行目\r二行目") << plain << QStringLiteral("一行目\r\n二行目");
        QTest::newRow("CRLF") << plain << QStringLiteral("a\r\nb\n\nc") << plain << QStringLiteral("a\r\nb\r\n\r\nc");
    }

    // The name and the memo as the list holds them, read back by this test's reader and
    // by Python's csv module.
    void cellsAsWritten()
    {
        QFETCH(QString, name);
        QFETCH(QString, memo);
        QFETCH(QString, nameCell);
        QFETCH(QString, memoCell);
        const tagFileList written = record(name, memo, {}, 1700000000);
        QCOMPARE(RecordRowText(written, kKeyMemo), memo); // what the list shows
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.csv"));
        QVERIFY(WriteRecordingListCsv(path, {written, record(QStringLiteral("B.MP3"), QString(), {}, 1600000000)}).ok());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        for (qsizetype at = bytes.indexOf('\n'); at >= 0; at = bytes.indexOf('\n', at + 1))
            QVERIFY2(at > 0 && bytes[at - 1] == '\r', "a line feed without its carriage return");
        for (qsizetype at = bytes.indexOf('\r'); at >= 0; at = bytes.indexOf('\r', at + 1))
            QVERIFY2(at + 1 < bytes.size() && bytes[at + 1] == '\n', "a carriage return without its line feed");

        const QList<QStringList> rows = parseCsv(QString::fromUtf8(bytes.mid(3)));
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1][kKeyName], nameCell);
        QCOMPARE(rows[1][kKeyMemo], memoCell);
        QCOMPARE(rows[2][kKeyName], QStringLiteral("B.MP3"));
        QCOMPARE(rows[1][kKeyDuration], QStringLiteral("62:05"));

        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
            QSKIP("python3 is not installed: the file was not read by Python's csv module");
        const QList<QStringList> python = pythonCsvRows(path);
        QCOMPARE(python.size(), 3);
        QCOMPARE(python, rows);
    }

    void unwritableFolderFails()
    {
        QTemporaryDir dir;
        const FileResult result = WriteRecordingListCsv(dir.filePath(QStringLiteral("no/list.csv")), {});
        QVERIFY(!result.ok());
        QVERIFY(!result.message().isEmpty());
    }
};

TALVEN77_REGISTER_TEST(CsvTest);
#include "CsvTest.moc"
