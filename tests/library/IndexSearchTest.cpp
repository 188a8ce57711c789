#include "IndexFixture.h"
#include "library/ArchivePlaces.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QDateTime tokyo(int day)
{
    return QDateTime(QDate(2024, 6, day), QTime(9, 30)); // tests run with TZ=Asia/Tokyo
}

QStringList names(const QList<SearchHit>& hits)
{
    QStringList list;
    for (const SearchHit& hit : hits)
        list.append(QDir(hit.folder).dirName() + u'/' + hit.record.szFileName);
    return list;
}

} // namespace

class IndexSearchTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_save;
    QString m_other;
    std::unique_ptr<RecordingIndex> m_index;

    void write(const QString& path, const QString& memo, int day, uint8_t played, uint8_t protect,
               uint8_t transferred)
    {
        tagVoiceHeader header = MakeVoiceHeader(1, memo);
        header.playedFlag = played;
        header.protectFlag = protect;
        header.transferredFlag = transferred;
        QVERIFY(WriteFileBytes(path, BuildRecording(header, ShortSpeechAudio()), tokyo(day)));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_save = m_dir.filePath(QStringLiteral("save"));
        m_other = m_dir.filePath(QStringLiteral("other"));
        QDir().mkpath(m_save + QStringLiteral("/2024-06-01"));
        QDir().mkpath(m_save + QStringLiteral("/2024-06-10"));
        QDir().mkpath(m_other);
        write(m_save + QStringLiteral("/2024-06-01/r001.mp3"), QStringLiteral("予算会議：増額を決定"), 1, 2, 1, 1);
        write(m_save + QStringLiteral("/2024-06-01/r002.mp3"), QStringLiteral("顧客へ電話"), 2, 0, 0, 1);
        write(m_save + QStringLiteral("/2024-06-10/r003.mp3"), QStringLiteral("定例会議 budget"), 10, 2, 0, 0);
        write(m_save + QStringLiteral("/2024-06-10/memo_50%.mp3"), QStringLiteral("Budget review"), 12, 0, 1, 0);
        write(m_other + QStringLiteral("/r004.mp3"), QStringLiteral("会議の準備"), 15, 0, 0, 0);
        m_index = std::make_unique<RecordingIndex>(m_dir.filePath(QStringLiteral("index.sqlite")));
        QVERIFY(m_index->isOpen());
        ScanTree(m_save, m_index.get());
        ScanTree(m_other, m_index.get());
    }
    void cleanupTestCase() { m_index.reset(); }

    void findsAcrossFolders_data()
    {
        QTest::addColumn<QString>("memo");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QDate>("from");
        QTest::addColumn<QDate>("to");
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QStringList>("expected");
        const QDate none;
        QTest::newRow("Japanese substring, two characters")
            << "会議" << "" << none << none << ""
            << QStringList{"2024-06-01/r001.mp3", "2024-06-10/r003.mp3"};
        QTest::newRow("Japanese substring inside a memo")
            << "増額を" << "" << none << none << "" << QStringList{"2024-06-01/r001.mp3"};
        QTest::newRow("Latin, any case") << "BUDGET" << "" << none << none << ""
                                         << QStringList{"2024-06-10/r003.mp3", "2024-06-10/memo_50%.mp3"};
        QTest::newRow("no match") << "議事録" << "" << none << none << "" << QStringList{};
        QTest::newRow("name") << "" << "r00" << none << none << ""
                              << QStringList{"2024-06-01/r001.mp3", "2024-06-01/r002.mp3", "2024-06-10/r003.mp3"};
        QTest::newRow("name with a wildcard character") << "" << "50%" << none << none << ""
                                                        << QStringList{"2024-06-10/memo_50%.mp3"};
        QTest::newRow("date range, both days included")
            << "" << "" << QDate(2024, 6, 2) << QDate(2024, 6, 10) << ""
            << QStringList{"2024-06-01/r002.mp3", "2024-06-10/r003.mp3"};
        QTest::newRow("protected") << "" << "" << none << none << "p"
                                   << QStringList{"2024-06-01/r001.mp3", "2024-06-10/memo_50%.mp3"};
        QTest::newRow("unplayed and untransferred") << "" << "" << none << none << "ut"
                                                    << QStringList{"2024-06-10/memo_50%.mp3"};
        QTest::newRow("memo and date together")
            << "会議" << "" << QDate(2024, 6, 5) << none << "" << QStringList{"2024-06-10/r003.mp3"};
    }
    void findsAcrossFolders()
    {
        QFETCH(QString, memo);
        QFETCH(QString, name);
        QFETCH(QDate, from);
        QFETCH(QDate, to);
        QFETCH(QString, flags);
        QFETCH(QStringList, expected);
        SearchQuery query;
        query.memo = memo;
        query.name = name;
        if (from.isValid())
            query.from = from.startOfDay().toSecsSinceEpoch();
        if (to.isValid())
            query.to = to.endOfDay().toSecsSinceEpoch();
        query.protectedOnly = flags.contains(u'p');
        query.unplayedOnly = flags.contains(u'u');
        query.untransferredOnly = flags.contains(u't');
        const QList<SearchHit> hits = m_index->search(query, {{m_save + u'/', true}});
        QCOMPARE(names(hits), expected);
        for (const SearchHit& hit : hits)
            QCOMPARE(hit.record.szFilePath, hit.folder + hit.record.szFileName);
    }

    void placesLimitTheSearch()
    {
        SearchQuery query;
        query.memo = QStringLiteral("会議");
        QCOMPARE(names(m_index->search(query, {{m_other + u'/', false}})), QStringList{"other/r004.mp3"});
        QCOMPARE(m_index->search(query, {{m_save + u'/', false}}).size(), 0); // not recursive
        QCOMPARE(m_index->search(query, {{m_save + u'/', true}, {m_other + u'/', false}}).size(), 3);
    }

    // A hit's folder in the window's names: its place, then the folders below it.
    void placeOfAFolderInWords_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        const QString s = kPlaceNameSeparator;
        QTest::newRow("a place itself") << "/save/20261102/" << QStringLiteral("保存用ﾌｫﾙﾀﾞ") + s + "20261102";
        QTest::newRow("below a card") << "/media/card/007_TALVEN-77/202611/02/"
                                      << QStringLiteral("SDｶｰﾄﾞ") + s + "(007)261102-261130" + s + "007_TALVEN-77/202611/02";
        QTest::newRow("the card's root") << "/media/card/" << QStringLiteral("SDｶｰﾄﾞ") + s + "(007)261102-261130";
        QTest::newRow("a registered folder inside the card") << "/media/card/kept/"
                                                             << QStringLiteral("任意のﾌｫﾙﾀﾞ") + s + "/media/card/kept";
        QTest::newRow("deeper inside the registered one") << "/media/card/kept/old/"
                                                          << QStringLiteral("SDｶｰﾄﾞ") + s + "(007)261102-261130" + s + "kept/old";
        QTest::newRow("a name that only begins like the card") << "/media/card2/x/" << "/media/card2/x";
        QTest::newRow("under no labelled place") << "/elsewhere/" << "/elsewhere";
    }

    void placeOfAFolderInWords()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        const QString s = kPlaceNameSeparator;
        const QList<SearchPlace> places{
            {"/save/20261102/", false, QStringLiteral("保存用ﾌｫﾙﾀﾞ") + s + "20261102"},
            {"/media/card/", true, QStringLiteral("SDｶｰﾄﾞ") + s + "(007)261102-261130"},
            {"/media/card/kept/", false, QStringLiteral("任意のﾌｫﾙﾀﾞ") + s + "/media/card/kept"},
            {"/elsewhere/", false, QString()},
        };
        QCOMPARE(PlaceOfFolderText(folder, places), expected);
    }

    // The hit carries the record a scan would give.
    void hitIsTheScannedRecord()
    {
        SearchQuery query;
        query.memo = QStringLiteral("準備");
        const QList<SearchHit> hits = m_index->search(query, {{m_other + u'/', false}});
        QCOMPARE(hits.size(), 1);
        QCOMPARE(Describe({hits.first().record}), Describe(ScanTree(m_other, nullptr)));
    }

    void changedOrRemovedFilesAreNotFound()
    {
        const QString folder = m_dir.filePath(QStringLiteral("changing"));
        QDir().mkpath(folder);
        write(folder + QStringLiteral("/x.mp3"), QStringLiteral("消える会議"), 20, 0, 0, 0);
        write(folder + QStringLiteral("/y.mp3"), QStringLiteral("変わる会議"), 21, 0, 0, 0);
        ScanTree(folder, m_index.get());
        SearchQuery query;
        query.memo = QStringLiteral("る会議");
        QCOMPARE(m_index->search(query, {{folder + u'/', false}}).size(), 2);
        QVERIFY(QFile::remove(folder + QStringLiteral("/x.mp3")));
        write(folder + QStringLiteral("/y.mp3"), QStringLiteral("変わった"), 21, 0, 0, 0);
        QCOMPARE(m_index->search(query, {{folder + u'/', false}}).size(), 0);
        ScanTree(folder, m_index.get());
        query.memo = QStringLiteral("変わった");
        QCOMPARE(m_index->search(query, {{folder + u'/', false}}).size(), 1);
    }
};

TALVEN77_REGISTER_TEST(IndexSearchTest);

#include "IndexSearchTest.moc"
