#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "export/RecordingListCsv.h"
#include "view/RecordingColumns.h"

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
