#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "settings/DeviceNameRegister.h"
#include "settings/Setting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

QVariant storedValue(const QString& name)
{
    return OpenProgramSettings()->value(QStringLiteral("Settings/") + name);
}

} // namespace

class SettingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
    }

    void defaults()
    {
        const CSetting constructed;
        QVERIFY(constructed.m_strSavePath.isEmpty());
        QVERIFY(constructed.m_strPassword.isEmpty());

        CSetting loaded;
        loaded.Load();
        QCOMPARE(loaded.m_strSavePath, QDir::homePath() + QStringLiteral("/Corvane/TALVEN-77"));
        QVERIFY(loaded.m_strPassword.isEmpty());
        for (int item : loaded.m_nDisplayItem)
            QCOMPARE(item, 1);
        QCOMPARE(loaded.m_nNumber, 1);
        QCOMPARE(loaded.m_nAutoUsb, 0);
        QCOMPARE(loaded.m_nUsePassword, 0);
        QVERIFY(OpenProgramSettings()->allKeys().isEmpty()); // loading writes nothing
    }

    void oneValuePresent()
    {
        OpenProgramSettings()->setValue(QStringLiteral("Settings/DisplayItem3"), 0);
        CSetting setting;
        setting.Load();
        for (int n = 0; n < CSetting::kDisplayItems; ++n)
            QCOMPARE(setting.m_nDisplayItem[n], n == 2 ? 0 : 1);
        QCOMPARE(setting.m_nNumber, 1);
    }

    void samePassword_data()
    {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("same");
        QTest::newRow("equal") << "abc" << "abc" << true;
        QTest::newRow("letter case") << "abc" << "ABC" << false;
        QTest::newRow("pound and its full-width form") << QStringLiteral("p\u00a3") << QStringLiteral("p\uffe1") << true;
        QTest::newRow("wave dash and full-width tilde") << QStringLiteral("\u301c") << QStringLiteral("\uff5e") << true;
        QTest::newRow("outside CP932") << QStringLiteral("\u00e9") << QStringLiteral("\u00e9") << true;
        QTest::newRow("outside CP932, different") << QStringLiteral("\u00e9") << QStringLiteral("e") << false;
    }

    void samePassword()
    {
        QFETCH(QString, entered);
        QFETCH(QString, stored);
        QFETCH(bool, same);
        QCOMPARE(SamePassword(entered, stored), same);
    }

    void aPasswordStoredInAnotherFormStillMatches()
    {
        // What the user typed comes back from the store in CP932's own form.
        CSetting saved;
        saved.m_strPassword = QStringLiteral("\u00a3100");
        QVERIFY(saved.Save());
        CSetting loaded;
        loaded.Load();
        QCOMPARE(loaded.m_strPassword, QStringLiteral("\uffe1100"));
        QVERIFY(SamePassword(QStringLiteral("\u00a3100"), loaded.m_strPassword));
    }

    void scrambling()
    {
        QCOMPARE(ScramblePassword("abc"), QByteArray("\x45\x41\x41"));
        QCOMPARE(ScramblePassword(ScramblePassword("secret")), QByteArray("secret"));
        QCOMPARE(ScramblePassword("x"), QByteArray(1, char('x' ^ 34)));
        QCOMPARE(ScramblePassword(QByteArray(20, 'p')).at(0), char('p' ^ 53));
        QCOMPARE(ScramblePassword(QByteArray()), QByteArray());
    }

    void passwordSurvivesSaveAndLoad_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("empty") << QString();
        QTest::newRow("one character") << QStringLiteral("x");
        QTest::newRow("twenty characters") << QStringLiteral("abcdefghijklmnopqrst");
        QTest::newRow("twenty double-byte characters") << QString(20, u'鍵');
        // '"' is 34, the key of a one-byte password; '$' is 36, the first key of three bytes.
        QTest::newRow("scrambles to a zero byte") << QStringLiteral("\"");
        QTest::newRow("zero byte first of three") << QStringLiteral("$ab");
        QTest::newRow("every byte zero") << QStringLiteral("%$#\"");
    }
    void passwordSurvivesSaveAndLoad()
    {
        QFETCH(QString, password);
        CSetting saved;
        saved.Load();
        saved.m_strPassword = password;
        saved.Save();
        CSetting loaded;
        loaded.Load();
        QCOMPARE(loaded.m_strPassword, password);
    }

    void passwordIsStoredScrambled()
    {
        CSetting setting;
        setting.m_strPassword = QStringLiteral("abc");
        setting.Save();
        QCOMPARE(storedValue(QStringLiteral("Password")).toByteArray(), QByteArray("\x45\x41\x41"));
    }

    void storedPasswordFromElsewhere_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("password");
        QTest::newRow("string value") << QVariant(QStringLiteral("EAA")) << "abc";
        QTest::newRow("cut at the first zero after unscrambling") << QVariant(QByteArray("\x45\x23\x41", 3)) << "a";
        QTest::newRow("99 bytes") << QVariant(ScramblePassword(QByteArray(99, 'a'))) << QString(99, u'a');
        QTest::newRow("over 99 bytes is ignored") << QVariant(QByteArray(100, 'z')) << QString();
        QTest::newRow("huge value is ignored") << QVariant(QByteArray(1 << 20, 'z')) << QString();
    }
    void storedPasswordFromElsewhere()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, password);
        OpenProgramSettings()->setValue(QStringLiteral("Settings/Password"), stored);
        CSetting setting;
        setting.Load();
        QCOMPARE(setting.m_strPassword, password);
    }

    void aFailedWriteIsReported()
    {
        // The settings file's place taken by a folder: nothing can be written.
        const QString file = OpenProgramSettings()->fileName();
        QFile::remove(file);
        QVERIFY(QDir().mkpath(file));
        CSetting setting;
        bool saved = true;
        const int result = setting.RunSettingsDialog([](CSetting& edited) {
            edited.m_nAutoUsb = 1;
            return 1;
        }, &saved);
        const bool plainSave = setting.Save();
        QVERIFY(QDir(file).removeRecursively());
        QCOMPARE(result, 1);
        QVERIFY(!saved);
        QVERIFY(!plainSave);
        QCOMPARE(setting.m_nAutoUsb, 1); // this run goes on with what the user chose
        QVERIFY(setting.Save());
    }

    // A settings file holding a line the settings library cannot parse is
    // reported as malformed, yet written whole: that is no failure.
    void aMalformedFileThatWasWrittenIsNoFailure_data()
    {
        QTest::addColumn<QString>("store");
        QTest::newRow("settings") << "settings";
        QTest::newRow("recorder names") << "recorder names";
    }
    void aMalformedFileThatWasWrittenIsNoFailure()
    {
        QFETCH(QString, store);
        const QString file = OpenProgramSettings()->fileName();
        QVERIFY(QDir().mkpath(QFileInfo(file).path()));
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(out.write("[Other]\nthis line has no equals sign\n") > 0);
        }
        if (store == "settings") {
            CSetting setting;
            setting.m_nAutoUsb = 1;
            QVERIFY(setting.Save());
            QCOMPARE(storedValue(QStringLiteral("AutoUsb")).toInt(), 1);
        } else {
            QVERIFY(WriteDeviceNameRegister({{QStringLiteral("005"), QStringLiteral("Alice")}}));
            QCOMPARE(ReadDeviceNameRegister().size(), size_t(1));
        }
    }

    void dialogResultDecidesWhatIsWritten()
    {
        CSetting setting;
        setting.Load();
        const int cancelled = setting.RunSettingsDialog([](CSetting& edited) {
            edited.m_strSavePath = QStringLiteral("/elsewhere");
            edited.m_nAutoUsb = 1;
            return 2;
        });
        QCOMPARE(cancelled, 2);
        QCOMPARE(setting.m_nAutoUsb, 0);
        QVERIFY(OpenProgramSettings()->allKeys().isEmpty());

        const int confirmed = setting.RunSettingsDialog([](CSetting& edited) {
            edited.m_strSavePath = QStringLiteral("/data/録音");
            edited.m_strPassword = QStringLiteral("pw");
            edited.m_nDisplayItem[9] = 0;
            edited.m_nNumber = 0;
            edited.m_nAutoUsb = 1;
            edited.m_nUsePassword = 1;
            return 1;
        });
        QCOMPARE(confirmed, 1);
        QCOMPARE(setting.m_strSavePath, QStringLiteral("/data/録音"));
        CSetting reloaded;
        reloaded.Load();
        QCOMPARE(reloaded.m_strSavePath, QStringLiteral("/data/録音"));
        QCOMPARE(reloaded.m_strPassword, QStringLiteral("pw"));
        QCOMPARE(reloaded.m_nDisplayItem[9], 0);
        QCOMPARE(reloaded.m_nDisplayItem[0], 1);
        QCOMPARE(reloaded.m_nNumber, 0);
        QCOMPARE(reloaded.m_nAutoUsb, 1);
        QCOMPARE(reloaded.m_nUsePassword, 1);
        QCOMPARE(storedValue(QStringLiteral("DisplayItem1")).toInt(), 1); // every value is written
    }
};

TALVEN77_REGISTER_TEST(SettingTest);
#include "SettingTest.moc"
