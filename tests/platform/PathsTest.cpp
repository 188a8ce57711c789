#include "TestRegistry.h"
#include "platform/Paths.h"

#include <QTest>

class PathsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void separators_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("added");
        QTest::addColumn<QString>("removed");
        QTest::addColumn<QString>("last");
        QTest::newRow("folder") << "/media/card/001_TALVEN-77" << "/media/card/001_TALVEN-77/"
                                << "/media/card/001_TALVEN-77" << "001_TALVEN-77";
        QTest::newRow("with separator") << "/save/録音/" << "/save/録音/" << "/save/録音" << "録音";
        QTest::newRow("empty") << "" << "/" << "" << "";
        QTest::newRow("root") << "/" << "/" << "" << "";
        QTest::newRow("two separators lose one") << "/a//" << "/a//" << "/a/" << "";
    }
    void separators()
    {
        QFETCH(QString, path);
        QFETCH(QString, added);
        QFETCH(QString, removed);
        QFETCH(QString, last);
        QCOMPARE(AddTrailingSeparator(path), added);
        QCOMPARE(RemoveTrailingSeparator(path), removed);
        QCOMPARE(LastPathComponent(path), last);
    }
};

TALVEN77_REGISTER_TEST(PathsTest);
#include "PathsTest.moc"
