#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "recording/PackedRecords.h"

#include <QTest>
#include <cstring>

Q_DECLARE_METATYPE(QList<tagFileList>)

namespace {

constexpr auto kFolder = u"/save/2024-01-01/";

tagFileList makeRecord(const QString& name, const tagVoiceHeader& header, QString path = {})
{
    tagFileList record;
    record.szFileName = name;
    record.szFilePath = path.isNull() ? QString::fromUtf16(kFolder) + name : path;
    record.tmCreate = 1700000000 + name.size();
    record.nDuration = 3600;
    record.nFileSize = 123456;
    record.header = header;
    return record;
}

tagVoiceHeader filledHeader(unsigned char byte)
{
    tagVoiceHeader header;
    std::memset(&header, byte, sizeof header);
    return header;
}

// Other bytes with single zeros and short runs of zeros between them.
tagVoiceHeader speckledHeader()
{
    tagVoiceHeader header;
    auto* bytes = reinterpret_cast<unsigned char*>(&header);
    for (size_t i = 0; i < sizeof header; ++i)
        bytes[i] = i % 5 == 0 || i % 11 < 3 ? 0 : uint8_t(i);
    return header;
}

} // namespace

class PackedRecordsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Unpacking gives back every field of every record, byte for byte.
    void unpacksWhatWasPacked_data()
    {
        QTest::addColumn<QList<tagFileList>>("records");
        const tagVoiceHeader recorder = MakeVoiceHeader(1, QStringLiteral("定例会議 第1回"), {5, 60, 3599});
        tagVoiceHeader fullMemo = MakeVoiceHeader(2, QString(128, QChar(0x4F1A)));
        QTest::newRow("none") << QList<tagFileList>{};
        QTest::newRow("one recorder's headers")
            << QList<tagFileList>{makeRecord(QStringLiteral("REC00001.MP3"), recorder),
                                  makeRecord(QStringLiteral("REC00002.MP3"), MakeVoiceHeader(1, QStringLiteral("定例会議 第2回"))),
                                  makeRecord(QStringLiteral("REC00003.MP3"), MakeVoiceHeader(0, QString()))};
        QTest::newRow("all zero, all ones, all zero again")
            << QList<tagFileList>{makeRecord(QStringLiteral("a.mp3"), filledHeader(0)),
                                  makeRecord(QStringLiteral("b.mp3"), filledHeader(0xFF)),
                                  makeRecord(QStringLiteral("c.mp3"), filledHeader(0))};
        QTest::newRow("single zeros between other bytes")
            << QList<tagFileList>{makeRecord(QStringLiteral("a.mp3"), speckledHeader()),
                                  makeRecord(QStringLiteral("b.mp3"), filledHeader(0x01)),
                                  makeRecord(QStringLiteral("c.mp3"), speckledHeader())};
        QTest::newRow("memo of 256 bytes without its end")
            << QList<tagFileList>{makeRecord(QStringLiteral("REC00001.MP3"), fullMemo)};
        QTest::newRow("paths elsewhere and names beyond Latin")
            << QList<tagFileList>{makeRecord(QStringLiteral("会議😀.mp3"), recorder),
                                  makeRecord(QStringLiteral("x.mp3"), recorder, QStringLiteral("/other/x.mp3")),
                                  makeRecord(QStringLiteral("x.mp3"), recorder, QStringLiteral("/save/2024-01-01/sub/x.mp3")),
                                  makeRecord(QStringLiteral("X.MP3"), recorder, QStringLiteral("/save/2024-01-01/x.mp3")),
                                  makeRecord(QString(), recorder, QStringLiteral(""))};
    }
    void unpacksWhatWasPacked()
    {
        QFETCH(QList<tagFileList>, records);
        if (!records.isEmpty())
            records[0].tmCreate = -86400; // before 1970
        const PackedRecords packed(records, QString::fromUtf16(kFolder));
        QCOMPARE(packed.count(), records.size());
        QCOMPARE(packed.isEmpty(), records.isEmpty());
        const QList<tagFileList> unpacked = packed.unpack();
        QCOMPARE(unpacked.size(), records.size());
        for (qsizetype i = 0; i < records.size(); ++i) {
            QCOMPARE(unpacked[i].szFileName, records[i].szFileName);
            QCOMPARE(unpacked[i].szFilePath, records[i].szFilePath);
            QCOMPARE(unpacked[i].tmCreate, records[i].tmCreate);
            QCOMPARE(unpacked[i].nDuration, records[i].nDuration);
            QCOMPARE(unpacked[i].nFileSize, records[i].nFileSize);
            QVERIFY2(std::memcmp(&unpacked[i].header, &records[i].header, sizeof(tagVoiceHeader)) == 0,
                     qPrintable(QStringLiteral("header of record %1").arg(i)));
        }
    }
};

TALVEN77_REGISTER_TEST(PackedRecordsTest);
#include "PackedRecordsTest.moc"
