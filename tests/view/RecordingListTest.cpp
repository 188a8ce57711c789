#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "recording/RecordingColumns.h"
#include "view/RecordingListModel.h"

#include <QAbstractItemModelTester>
#include <QTest>
#include <algorithm>
#include <malloc.h>
#include <numeric>

namespace {

tagFileList record(const QString& name, uint32_t duration = 0, uint32_t size = 0, const tagVoiceHeader& header = MakeVoiceHeader(0))
{
    tagFileList r;
    r.szFileName = name;
    r.szFilePath = QStringLiteral("/save/day/") + name;
    r.tmCreate = 1365994800; // 2013-04-15 12:00 in Tokyo
    r.nDuration = duration;
    r.nFileSize = size;
    r.header = header;
    return r;
}

size_t heapInUse()
{
    const struct mallinfo2 figures = mallinfo2();
    return figures.uordblks + figures.hblkhd;
}

QStringList column(const RecordingListModel& model, int key)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.cellText(row, model.columnOfKey(key)).trimmed());
    return texts;
}

} // namespace

class RecordingListTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rowTexts()
    {
        tagVoiceHeader header = MakeVoiceHeader(1, QStringLiteral("会議のメモ  "), {10, kEmptyIndexMark, 0, kEmptyIndexMark, kEmptyIndexMark});
        header.protectFlag = 1;
        header.playedFlag = 2;
        const RowTexts texts = RecordRowTexts(record(QStringLiteral("REC1.MP3"), 754, 10240, header));
        QCOMPARE(texts[kKeyName], QStringLiteral("REC1.MP3"));
        QCOMPARE(texts[kKeyStart], QStringLiteral("2013/04/15 12:00:00"));
        QCOMPARE(texts[kKeyDuration], QStringLiteral("      12:34"));
        QCOMPARE(texts[kKeySize], QStringLiteral("  10.0 KB"));
        QCOMPARE(texts[kKeyMode], QStringLiteral(" 標　準 "));
        QCOMPARE(texts[kKeyProtect], QStringLiteral("  ○  "));
        QCOMPARE(texts[kKeyIndex], QStringLiteral("     2     "));
        QCOMPARE(texts[kKeyPlayed], QStringLiteral("    済    "));
        QCOMPARE(texts[kKeyTransferred], QString(10, u' '));
        QCOMPARE(texts[kKeyMemo], QStringLiteral("会議のメモ"));

        const RowTexts blank = RecordRowTexts(record(QStringLiteral("x.mp3"), 0, 0, MakeVoiceHeader(7)));
        QCOMPARE(blank[kKeyMode], QStringLiteral(" －－－ "));
        QCOMPARE(blank[kKeyProtect], QString(6, u' '));
        QCOMPARE(blank[kKeyIndex], QString(11, u' '));
        QCOMPARE(blank[kKeyDuration], QStringLiteral("       0:00"));
        QCOMPARE(RecordRowText(record(QString(), 0, 0, MakeVoiceHeader(0)), kKeyMode), QStringLiteral(" 長時間 "));
        QCOMPARE(RecordRowText(record(QString(), 0, 0, MakeVoiceHeader(2)), kKeyMode), QStringLiteral(" 高音質 "));
    }

    void hiddenColumnsTakeNoCell()
    {
        RecordingListModel model;
        QAbstractItemModelTester tester(&model);
        model.setShownKeys({kKeyStart, kKeyDuration, kKeyMode, kKeyProtect, kKeyIndex, kKeyPlayed, kKeyTransferred});
        model.setRecords({record(QStringLiteral("a.mp3"), 61, 2048)});
        QStringList headers;
        for (int column = 0; column < model.columnCount(); ++column)
            headers.append(model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        QCOMPARE(headers, (QStringList{"名　　前", "録音開始時間", "録音時間", "ﾓｰﾄﾞ", "保護", "ｲﾝﾃﾞｯｸｽ", "再生済", "転送済"}));
        QCOMPARE(model.cellText(0, 2), QStringLiteral("       1:01"));
        QCOMPARE(model.cellText(0, 3), QStringLiteral(" 長時間 "));
        QCOMPARE(model.columnOfKey(kKeySize), -1);
        QCOMPARE(model.data(model.index(0, 2), Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
        QCOMPARE(model.data(model.index(0, 3), Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask, int(Qt::AlignHCenter));
        QCOMPARE(model.headerData(0, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("   1"));
    }

    void sorting_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("descending");
        QTest::addColumn<QStringList>("names");
        // a: 12:34, 9.5 KB; b: 5:00, 10.0 KB; c: 0:59, 100.0 KB
        QTest::newRow("duration sorts by its text: 12:34 before 5:00") << int(kKeyDuration) << false << QStringList{"c", "a", "b"};
        QTest::newRow("size is numeric: 9.5 KB before 10.0 KB") << int(kKeySize) << false << QStringList{"a", "b", "c"};
        QTest::newRow("size descending") << int(kKeySize) << true << QStringList{"c", "b", "a"};
        QTest::newRow("name descending") << int(kKeyName) << true << QStringList{"c", "b", "a"};
        QTest::newRow("index count") << int(kKeyIndex) << false << QStringList{"b", "c", "a"};
        QTest::newRow("hidden memo column sorts by name") << int(kKeyMemo) << false << QStringList{"a", "b", "c"};
    }
    void sorting()
    {
        QFETCH(int, key);
        QFETCH(bool, descending);
        QFETCH(QStringList, names);
        RecordingListModel model;
        QAbstractItemModelTester tester(&model);
        model.setShownKeys({kKeyDuration, kKeySize, kKeyIndex});
        const tagVoiceHeader twoMarks = MakeVoiceHeader(0, {}, {3, 9});
        const tagVoiceHeader oneMark = MakeVoiceHeader(0, {}, {5});
        model.setRecords({record(QStringLiteral("b"), 300, 10240), record(QStringLiteral("a"), 754, 9728, twoMarks),
                          record(QStringLiteral("c"), 59, 102400, oneMark)});
        model.setMarkedRow(1); // a
        model.sortByKey(key, descending);
        QCOMPARE(column(model, kKeyName), names);
        QCOMPARE(model.recordAt(model.markedRow()).szFileName, QStringLiteral("a")); // the marker follows its row
    }

    // Texts sort by their CP932 bytes, which order these unlike their UTF-16 code units.
    void sortingByCodePageBytes_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QStringList>("values"); // names, mode numbers or memos, in list order
        QTest::addColumn<QStringList>("ascending");
        QTest::addColumn<QStringList>("descending");
        // 817C, 8D82, 92B7, 9557; in UTF-16 標 6A19 < 長 9577 < 高 9AD8 < － FF0D.
        QTest::newRow("mode texts") << int(kKeyMode) << QStringList{"1", "0", "7", "2"}
                                    << QStringList{"－－－", "高音質", "長時間", "標　準"}
                                    << QStringList{"標　準", "長時間", "高音質", "－－－"};
        // 亜 889F < ｱ B1 < 漾 E040; in UTF-16 漾 6F3E < ｱ FF71.
        QTest::newRow("half-width katakana between kanji")
            << int(kKeyName) << QStringList{"漾.mp3", "ｱ.mp3", "亜.mp3"} << QStringList{"亜.mp3", "ｱ.mp3", "漾.mp3"}
            << QStringList{"漾.mp3", "ｱ.mp3", "亜.mp3"};
        // ～ 8160 < あ 82A0 < 予 975C; in UTF-16 ～ FF5E comes last.
        QTest::newRow("memo with a wave dash") << int(kKeyMemo) << QStringList{"予定", "～予定", "あ予定"}
                                               << QStringList{"～予定", "あ予定", "予定"}
                                               << QStringList{"予定", "あ予定", "～予定"};
        // A leading ideographic space (8140) is part of the text, not white space to trim:
        // it comes before あ 82A0 (the column shown trimmed here).
        QTest::newRow("memo after an ideographic space") << int(kKeyMemo) << QStringList{"あ", "　予定"}
                                                         << QStringList{"予定", "あ"} << QStringList{"あ", "予定"};
        // 〜 U+301C and ～ U+FF5E are both 8160: equal texts keep their order both ways.
        QTest::newRow("wave dashes with the same bytes") << int(kKeyName) << QStringList{"～.mp3", "〜.mp3", "!.mp3"}
                                                         << QStringList{"!.mp3", "～.mp3", "〜.mp3"}
                                                         << QStringList{"～.mp3", "〜.mp3", "!.mp3"};
        // é, ﬁ and the emoji have no CP932 bytes: after the rest, by UTF-16 code units
        // (a 0061 < é 00E9 < 😀 D83D < ﬁ FB01).
        QTest::newRow("names CP932 cannot hold come last")
            << int(kKeyName) << QStringList{"é.mp3", "ﬁ.mp3", "ｱ.mp3", "😀.mp3", "a😀.mp3", "z.mp3"}
            << QStringList{"z.mp3", "ｱ.mp3", "a😀.mp3", "é.mp3", "😀.mp3", "ﬁ.mp3"}
            << QStringList{"ﬁ.mp3", "😀.mp3", "é.mp3", "a😀.mp3", "ｱ.mp3", "z.mp3"};
    }
    void sortingByCodePageBytes()
    {
        QFETCH(int, key);
        QFETCH(QStringList, values);
        QFETCH(QStringList, ascending);
        QFETCH(QStringList, descending);
        QList<tagFileList> records;
        for (const QString& value : values) {
            if (key == kKeyName)
                records.append(record(value));
            else if (key == kKeyMode)
                records.append(record(QStringLiteral("r.mp3"), 0, 0, MakeVoiceHeader(uint8_t(value.toInt()))));
            else
                records.append(record(QStringLiteral("r.mp3"), 0, 0, MakeVoiceHeader(0, value)));
        }
        RecordingListModel model;
        QAbstractItemModelTester tester(&model);
        model.setRecords(records);
        model.sortByKey(key, false);
        QCOMPARE(column(model, key), ascending);
        model.setRecords(records);
        model.sortByKey(key, true);
        QCOMPARE(column(model, key), descending);
    }

    void compareRowTexts()
    {
        QVERIFY(CompareRowTexts(kKeySize, QStringLiteral("   9.5 KB"), QStringLiteral("  10.0 KB")) < 0);
        QCOMPARE(CompareRowTexts(kKeySize, QStringLiteral("  10.04 KB"), QStringLiteral("  10.0 KB")), 0); // tenths
        QVERIFY(CompareRowTexts(kKeyDuration, QStringLiteral("      12:34"), QStringLiteral("       5:00")) < 0);
        QCOMPARE(CompareRowTexts(kKeyIndex, QString(11, u' '), QStringLiteral("     0     ")), 0);
    }

    void refreshedRowsShowShorterTexts()
    {
        RecordingListModel model;
        model.setRecords({record(QStringLiteral("a.mp3")), record(QStringLiteral("b.mp3"))});
        tagVoiceHeader header = MakeVoiceHeader(0, QStringLiteral("新しいメモ"), {4});
        header.protectFlag = 1;
        header.playedFlag = 2;
        QVERIFY(!model.RefreshRecordRow(QStringLiteral("/save/day/a.mp3"), 1, header)); // another file's row
        QVERIFY(!model.RefreshRecordRow(QStringLiteral("/save/day/a.mp3"), -1, header));
        QVERIFY(!model.RefreshRecordRow(QStringLiteral("/save/other/a.mp3"), 0, header)); // its namesake elsewhere
        QVERIFY(model.RefreshRecordRow(QStringLiteral("/save/day/a.mp3"), 0, header));
        QCOMPARE(model.cellText(0, model.columnOfKey(kKeyProtect)), QStringLiteral("○"));
        QCOMPARE(model.cellText(0, model.columnOfKey(kKeyIndex)), QStringLiteral("1"));
        QCOMPARE(model.cellText(0, model.columnOfKey(kKeyPlayed)), QStringLiteral("済"));
        QCOMPARE(model.cellText(0, model.columnOfKey(kKeyMemo)), QStringLiteral("新しいメモ"));
        QCOMPARE(model.recordAt(0).header.protectFlag, 1);
        header.protectFlag = 0;
        header.indexMarks[0] = kEmptyIndexMark;
        QVERIFY(model.RefreshRecordRow(QStringLiteral("/save/day/a.mp3"), 0, header));
        QCOMPARE(model.cellText(0, model.columnOfKey(kKeyProtect)), QString());
        QCOMPARE(model.cellText(0, model.columnOfKey(kKeyIndex)), QString());
    }

    void rowsComeAndGo()
    {
        RecordingListModel model;
        QAbstractItemModelTester tester(&model);
        model.setRecords({record(QStringLiteral("a")), record(QStringLiteral("b")), record(QStringLiteral("c"))});
        model.setMarkedRow(2);
        model.removeRecordRow(0);
        QCOMPARE(model.markedRow(), 1);
        model.appendRecord(record(QStringLiteral("d")));
        QCOMPARE(column(model, kKeyName), (QStringList{"b", "c", "d"}));
        model.removeRecordRow(1);
        QCOMPARE(model.markedRow(), -1);
        model.clear();
        QCOMPARE(model.rowCount(), 0);
    }

    // A listed row costs the rows little beyond the records they show (which the scanned
    // list holds already), and an emptied list gives all of it back.
    void rowsCostLittleAndAreGivenBack()
    {
        constexpr int kRows = 3000;
        QList<tagFileList> listed;
        for (int i = 0; i < kRows; ++i)
            listed.append(record(QStringLiteral("REC%1.MP3").arg(i, 5, 10, QLatin1Char('0')), uint32_t(i), uint32_t(i) * 1000,
                                 MakeVoiceHeader(uint8_t(i % 3), QStringLiteral("メモ%1").arg(i % 50), {uint32_t(i % 7)})));
        listed.squeeze();
        const size_t before = heapInUse();
        RecordingListModel model;
        model.setRecords(listed);
        model.sortByKey(kKeyMemo, false);
        model.sortByKey(kKeyStart, true);
        const size_t filled = heapInUse();
        QVERIFY2(filled - before < size_t(kRows) * 64,
                 qPrintable(QStringLiteral("%1 bytes a row").arg(double(filled - before) / kRows)));
        model.setRecords({});
        QVERIFY2(heapInUse() < before + 4096, qPrintable(QStringLiteral("%1 bytes kept").arg(heapInUse() - before)));
    }

    // Start times and lengths sort by keys quicker to make than their texts, in the
    // order of the texts all the same (a length of 10 minutes before one of 1).
    void startAndDurationSortAsTheirTexts_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("start") << int(kKeyStart);
        QTest::newRow("duration") << int(kKeyDuration);
    }
    void startAndDurationSortAsTheirTexts()
    {
        QFETCH(int, key);
        QList<tagFileList> listed;
        const int64_t starts[] = {1365994800, 0, 1365994799, 1700000000, 1365994800, 946684800, 1365908400};
        const uint32_t durations[] = {65, 600, 5, 3599, 65, 36000, 0};
        for (int i = 0; i < 7; ++i) {
            tagFileList r = record(QStringLiteral("r%1").arg(i), durations[i]);
            r.tmCreate = starts[i];
            listed.append(r);
        }
        RecordingListModel model;
        model.setRecords(listed);
        for (const bool descending : {false, true}) {
            std::vector<int> expected(size_t(listed.size()));
            std::iota(expected.begin(), expected.end(), 0);
            std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) {
                const QString ta = RecordRowText(listed[a], key), tb = RecordRowText(listed[b], key);
                return descending ? CompareRowTexts(key, tb, ta) < 0 : CompareRowTexts(key, ta, tb) < 0;
            });
            model.setRecords(listed);
            model.sortByKey(key, descending);
            QStringList names, expectedNames;
            for (int row = 0; row < model.rowCount(); ++row) {
                names.append(model.recordAt(row).szFileName);
                expectedNames.append(listed[expected[size_t(row)]].szFileName);
            }
            QCOMPARE(names, expectedNames);
        }
    }

    // Sort keys worked out once are worked out again when a row changes.
    void sortFollowsChangedRows()
    {
        RecordingListModel model;
        const QList<tagFileList> listed = {record(QStringLiteral("a"), 0, 0, MakeVoiceHeader(0, QStringLiteral("い"))),
                                           record(QStringLiteral("b"), 0, 0, MakeVoiceHeader(0, QStringLiteral("う"))),
                                           record(QStringLiteral("c"), 0, 0, MakeVoiceHeader(0, QStringLiteral("い")))};
        model.setRecords(listed);
        model.sortByKey(kKeyMemo, false);
        QCOMPARE(column(model, kKeyName), (QStringList{"a", "c", "b"}));
        model.RefreshRecordRow(QStringLiteral("/save/day/b"), 2, MakeVoiceHeader(0, QStringLiteral("あ")));
        model.sortByKey(kKeyMemo, false);
        QCOMPARE(column(model, kKeyName), (QStringList{"b", "a", "c"}));
        model.replaceRecordRow(1, record(QStringLiteral("z"), 0, 0, MakeVoiceHeader(0, QStringLiteral("え"))));
        model.appendRecord(record(QStringLiteral("d"), 0, 0, MakeVoiceHeader(0, QStringLiteral("ア"))));
        model.sortByKey(kKeyMemo, true);
        QCOMPARE(column(model, kKeyMemo), (QStringList{"ア", "え", "い", "あ"}));
        model.sortByKey(kKeyName, false);
        QCOMPARE(column(model, kKeyName), (QStringList{"b", "c", "d", "z"}));

        // The scanned list copies its records to change a header: the rows take that
        // copy, and only that one.
        QList<tagFileList> changed = listed;
        changed[0].header.playedFlag = 2;
        QVERIFY(model.shareRecords(changed));
        QList<tagFileList> other = {record(QStringLiteral("a")), record(QStringLiteral("b")), record(QStringLiteral("c"))};
        QVERIFY(!model.shareRecords(other));
        QCOMPARE(column(model, kKeyName), (QStringList{"b", "c", "d", "z"}));
    }
};

TALVEN77_REGISTER_TEST(RecordingListTest);
#include "RecordingListTest.moc"
