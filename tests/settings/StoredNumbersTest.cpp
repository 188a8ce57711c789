#include "TestRegistry.h"
#include "analysis/AnalysisSettings.h"
#include "document/TALVEN77PCDoc.h"
#include "export/UndoJournal.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"
#include "settings/DeviceNameRegister.h"
#include "settings/Setting.h"
#include "transport/TransportSettings.h"

#include <QTest>

namespace {

// What the program makes of the settings file, as one number per reader.
double loaded(const QString& reader)
{
    if (reader == u"silence minimum")
        return double(AnalysisSettings::Load().silence.minimumMilliseconds);
    if (reader == u"silence threshold")
        return AnalysisSettings::Load().silence.thresholdDecibels;
    if (reader == u"back skip")
        return TransportSettings::Load().backSkipSeconds;
    if (reader == u"speed step")
        return TransportSettings::Load().speedStep;
    if (reader == u"trash")
        return MoveToTrashEnabled() ? 1 : 0;
    if (reader == u"name register")
        return double(ReadDeviceNameRegister().size());
    if (reader == u"registered folders") {
        CTALVEN77PCDoc document;
        document.LoadOptionFolders();
        return document.CountOptionFolders();
    }
    CSetting setting;
    setting.Load();
    if (reader == u"number")
        return setting.m_nNumber;
    if (reader == u"display item 2")
        return setting.m_nDisplayItem[1];
    return -12345;
}

} // namespace

// Numbers in the settings file as a hand edit or a damaged disk leaves them: whatever
// cannot be used as it stands takes the value's default, never an overflowed figure.
class StoredNumbersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
    }

    void unusableNumbersTakeTheirDefaults_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("reader");
        QTest::addColumn<double>("expected");
        const auto row = [](const char* name, const char* key, const char* stored, const char* reader,
                            double expected) {
            QTest::newRow(name) << QString::fromLatin1(key) << QString::fromLatin1(stored)
                                << QString::fromLatin1(reader) << expected;
        };
        row("minimum far too long", "Analysis/SilenceMinimum", "1e300", "silence minimum", 2000);
        row("minimum not a number", "Analysis/SilenceMinimum", "nan", "silence minimum", 2000);
        row("minimum infinite", "Analysis/SilenceMinimum", "-inf", "silence minimum", 2000);
        row("minimum below a second", "Analysis/SilenceMinimum", "0.5", "silence minimum", 2000);
        row("minimum in range", "Analysis/SilenceMinimum", "3.5", "silence minimum", 3500);
        row("threshold not a number", "Analysis/SilenceThreshold", "nan", "silence threshold", 10);
        row("threshold infinite", "Analysis/SilenceThreshold", "inf", "silence threshold", 10);
        row("threshold in range", "Analysis/SilenceThreshold", "12.5", "silence threshold", 12.5);
        row("skip as a huge real", "Transport/BackSkip", "1e300", "back skip", 3);
        row("skip beyond int", "Transport/BackSkip", "4294967299", "back skip", 3);
        row("skip in range", "Transport/BackSkip", "7", "back skip", 7);
        row("speed step not a number", "Transport/SpeedStep", "nan", "speed step", 0.1);
        row("number beyond int", "Settings/Number", "2147483648", "number", 1);
        row("number as text", "Settings/Number", "yes", "number", 1);
        row("number off", "Settings/Number", "0", "number", 0);
        row("display item as a real", "Settings/DisplayItem2", "1e300", "display item 2", 1);
        row("display item off", "Settings/DisplayItem2", "0", "display item 2", 0);
        row("trash setting as text", "Trash/MoveToTrash", "maybe", "trash", 1);
        row("name register count negative", "DeviceName/Count", "-5", "name register", 0);
        row("registered folders beyond the list", "OptionFolder/Count", "100000", "registered folders",
            CTALVEN77PCDoc::kMaxOptionFolders);
        row("registered folders as a real", "OptionFolder/Count", "1e300", "registered folders", 0);
    }

    void unusableNumbersTakeTheirDefaults()
    {
        QFETCH(QString, key);
        QFETCH(QString, stored);
        QFETCH(QString, reader);
        QFETCH(double, expected);
        OpenProgramSettings()->setValue(key, stored);
        QCOMPARE(loaded(reader), expected);
    }

    // The reading itself, at its bounds.
    void boundedReading_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<double>("asInteger"); // within 0..100, fallback 50
        QTest::addColumn<double>("asReal");    // within 0..10, fallback 5
        QTest::newRow("whole number") << "7" << 7.0 << 7.0;
        QTest::newRow("spaces around") << " 7 " << 7.0 << 7.0;
        QTest::newRow("lower bound") << "0" << 0.0 << 0.0;
        QTest::newRow("upper bound") << "10" << 10.0 << 10.0;
        QTest::newRow("beyond the real's bound") << "100" << 100.0 << 5.0;
        QTest::newRow("beyond both") << "101" << 50.0 << 5.0;
        QTest::newRow("negative") << "-1" << 50.0 << 5.0;
        QTest::newRow("a fraction") << "2.5" << 50.0 << 2.5;
        QTest::newRow("an exponent") << "1e1" << 50.0 << 10.0;
        QTest::newRow("far beyond 64 bits") << "1e300" << 50.0 << 5.0;
        QTest::newRow("just beyond 64 bits") << "9223372036854775808" << 50.0 << 5.0;
        QTest::newRow("not a number") << "nan" << 50.0 << 5.0;
        QTest::newRow("infinite") << "inf" << 50.0 << 5.0;
        QTest::newRow("hexadecimal") << "0x5" << 50.0 << 5.0;
        QTest::newRow("empty") << "" << 50.0 << 5.0;
        QTest::newRow("text") << "five" << 50.0 << 5.0;
    }

    void boundedReading()
    {
        QFETCH(QString, stored);
        QFETCH(double, asInteger);
        QFETCH(double, asReal);
        const auto settings = OpenProgramSettings();
        settings->setValue(QStringLiteral("Test/Value"), stored);
        QCOMPARE(double(SettingsInteger(*settings, QStringLiteral("Test/Value"), 50, 0, 100)), asInteger);
        QCOMPARE(SettingsReal(*settings, QStringLiteral("Test/Value"), 5, 0, 10), asReal);
        QCOMPARE(SettingsInteger(*settings, QStringLiteral("Test/Missing"), 50, 0, 100), int64_t(50));
        QCOMPARE(SettingsReal(*settings, QStringLiteral("Test/Missing"), 5, 0, 10), 5.0);
    }
};

TALVEN77_REGISTER_TEST(StoredNumbersTest);
#include "StoredNumbersTest.moc"
