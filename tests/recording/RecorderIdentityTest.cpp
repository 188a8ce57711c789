#include "CardBuilder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "recording/RecorderIdentity.h"

#include <QTemporaryDir>
#include <QTest>

class RecorderIdentityTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static void writeRegister(const QList<QPair<QString, QString>>& entries, int count)
    {
        const auto settings = OpenProgramSettings();
        settings->remove(QStringLiteral("DeviceName"));
        settings->beginGroup(QStringLiteral("DeviceName"));
        settings->setValue(QStringLiteral("Count"), count);
        for (int i = 0; i < entries.size(); ++i) {
            settings->setValue(QStringLiteral("ItemNo%1").arg(i + 1), entries[i].first);
            settings->setValue(QStringLiteral("ItemName%1").arg(i + 1), entries[i].second);
        }
    }

private Q_SLOTS:
    void readsTheNumberOfAValidFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("number");
        const QByteArray valid = DeviceDatBytes(1);
        QTest::newRow("number 1") << valid << 1;
        QTest::newRow("bytes 0F 27 give 9999") << DeviceDatBytes(9999) << 9999;
        QTest::newRow("number 65535") << DeviceDatBytes(65535) << 65535;
        QTest::newRow("bytes after 512 are ignored") << valid + QByteArray(300, 'x') << 1;
        QByteArray noTerminator = valid;
        noTerminator[9] = 'X';
        QTest::newRow("signature not zero-terminated") << noTerminator << 0;
        QByteArray badReverse = valid;
        badReverse[505] = 'Q';
        QTest::newRow("reversed signature wrong") << badReverse << 0;
        QByteArray otherSignature = valid;
        otherSignature[0] = 't';
        QTest::newRow("other signature") << otherSignature << 0;
        QTest::newRow("number 0 is no recorder") << DeviceDatBytes(0) << 0;
        QTest::newRow("511 bytes") << valid.left(511) << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }
    void readsTheNumberOfAValidFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, number);
        const QString drive = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(WriteFileBytes(drive + QStringLiteral("/Device.Dat"), file));
        QCOMPARE(int(ReadRecorderNumber(drive)), number);
    }

    void driveWithoutTheFileHasNoNumber()
    {
        QCOMPARE(int(ReadRecorderNumber(m_dir.path())), 0);
        QCOMPARE(int(ReadRecorderNumber(m_dir.filePath(QStringLiteral("nowhere")))), 0);
    }

    void recorderFolder_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("name");
        QTest::newRow("1") << 1 << "001_TALVEN-77";
        QTest::newRow("42") << 42 << "042_TALVEN-77";
        QTest::newRow("9999") << 9999 << "9999_TALVEN-77";
        QTest::newRow("65535") << 65535 << "65535_TALVEN-77";
    }
    void recorderFolder()
    {
        QFETCH(int, number);
        QFETCH(QString, name);
        QCOMPARE(RecorderFolderName(uint16_t(number)), name);
        QCOMPARE(RecorderFolderPath(QStringLiteral("/media/card"), uint16_t(number)),
                 QStringLiteral("/media/card/") + name + u'/');
    }

    void looksUpRegisteredNames_data()
    {
        QTest::addColumn<QStringList>("numbers");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("recorder");
        QTest::addColumn<QString>("name");
        QTest::newRow("registered") << QStringList{"003", "005"} << 2 << 5 << "会議室";
        QTest::newRow("not registered") << QStringList{"003", "005"} << 2 << 6 << "006";
        QTest::newRow("empty number skipped") << QStringList{"", "005"} << 2 << 0 << "000";
        QTest::newRow("one digit matches") << QStringList{"5"} << 1 << 5 << "会議室";
        QTest::newRow("space and sign before digits") << QStringList{" +5x"} << 1 << 5 << "会議室";
        QTest::newRow("text without digits reads 0") << QStringList{"abc"} << 1 << 0 << "会議室";
        QTest::newRow("entries beyond Count never read") << QStringList{"003", "005"} << 1 << 5 << "005";
        QTest::newRow("four digits") << QStringList{"9999"} << 1 << 9999 << "会議室";
        QTest::newRow("no register") << QStringList{} << 0 << 7 << "007";
    }
    void looksUpRegisteredNames()
    {
        QFETCH(QStringList, numbers);
        QFETCH(int, count);
        QFETCH(int, recorder);
        QFETCH(QString, name);
        QList<QPair<QString, QString>> entries;
        for (const QString& number : numbers) {
            // The last entry is the one a matching test looks for.
            entries.append({number, entries.size() + 1 == numbers.size() ? QStringLiteral("会議室")
                                                                       : QStringLiteral("other")});
        }
        writeRegister(entries, count);
        QCOMPARE(LookUpRecorderName(uint16_t(recorder)), name);
    }
};

TALVEN77_REGISTER_TEST(RecorderIdentityTest);
#include "RecorderIdentityTest.moc"
