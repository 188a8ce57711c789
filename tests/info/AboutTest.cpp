#include "TestRegistry.h"
#include "info/AboutDlg.h"
#include "info/SystemInfo.h"

#include <QHeaderView>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <unistd.h>

class AboutTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowsNames_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<int>("platform");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("build");
        QTest::newRow("NT 3.51") << 3 << 51 << 2 << "WindowsNT 3.51" << 0;
        QTest::newRow("95") << 4 << 0 << 1 << "Windows 95" << 1;
        QTest::newRow("NT 4.0") << 4 << 0 << 2 << "Windows NT 4.0" << 2;
        QTest::newRow("98") << 4 << 10 << 1 << "Windows 98" << 1;
        QTest::newRow("Me") << 4 << 90 << 1 << "Windows Me" << 1;
        QTest::newRow("2000") << 5 << 0 << 2 << "Windows 2000" << 2;
        QTest::newRow("Xp") << 5 << 1 << 2 << "Windows Xp" << 2;
        QTest::newRow("2003") << 5 << 2 << 2 << "WindowsServer 2003 family" << 2;
        QTest::newRow("5.3") << 5 << 3 << 2 << "Windows" << 2;
        QTest::newRow("Vista") << 6 << 0 << 2 << "Windows Vista" << 2;
        QTest::newRow("7") << 6 << 1 << 2 << "Windows 7" << 2;
        QTest::newRow("8, also newer systems reporting 6.2") << 6 << 2 << 2 << "Windows 8" << 2;
        QTest::newRow("6.3") << 6 << 3 << 2 << "Windows" << 2;
        QTest::newRow("10.0: no build text") << 10 << 0 << 2 << "Windows" << 0;
    }
    void windowsNames()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(int, platform);
        QFETCH(QString, name);
        QFETCH(int, build);
        const WindowsName result = WindowsOsName(major, minor, platform);
        QCOMPARE(result.name, name);
        QCOMPARE(result.buildKind, build);
    }

    void memoryFormat_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("8 GiB") << quint64(8589934592ULL) << "8192.0 MB";
        QTest::newRow("1.5 MiB") << quint64(1572864) << " 1.5 MB";
        QTest::newRow("zero") << quint64(0) << " 0.0 MB";
        QTest::newRow("128 TiB") << (quint64(1) << 47) << "134217728.0 MB";
    }
    void memoryFormat()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(MegabyteText(bytes), text);
    }

    void rowsOfThisMachine()
    {
        const QStringList labels = SystemInfoLabels();
        const QStringList values = SystemInfoValues();
        QCOMPARE(labels.size(), 19);
        QCOMPARE(values.size(), 19);
        QCOMPARE(labels[9], QStringLiteral("Totam Phys. Memory"));
        QCOMPARE(labels[15], QStringLiteral("Tolal Virtual Memory"));
        QVERIFY(QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+ \\(Build \\d+\\)$")).match(values[1]).hasMatch());
        QVERIFY(values[5].endsWith(QStringLiteral(" MHz")) || values[5] == QStringLiteral("Cpu Info Get Error"));
        QCOMPARE(values[6], QStringLiteral("%1 Processor").arg(sysconf(_SC_NPROCESSORS_ONLN)));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+ %$")).match(values[8]).hasMatch());
        for (int row = 9; row < 19; ++row)
            QVERIFY2(QRegularExpression(QStringLiteral("^ *\\d+\\.\\d MB$")).match(values[row]).hasMatch(), qPrintable(values[row]));
    }

    void dialog()
    {
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QStringLiteral("バージョン情報"));
        QTableWidget* table = about.table();
        QCOMPARE(table->rowCount(), 19);
        QCOMPARE(table->horizontalHeaderItem(0)->text(), QStringLiteral("Environment"));
        QCOMPARE(table->horizontalHeaderItem(1)->text(), QStringLiteral("Information"));
        QCOMPARE(table->columnWidth(0), 140);
        QCOMPARE(table->columnWidth(1), 320);
        QCOMPARE(table->item(18, 0)->text(), QStringLiteral("Extend Memory"));
        QCOMPARE(GetVersionText(0), QStringLiteral("TALVEN-77-PC Player"));
        QVERIFY(GetVersionText(3).isEmpty());
    }
};

TALVEN77_REGISTER_TEST(AboutTest);
#include "AboutTest.moc"
