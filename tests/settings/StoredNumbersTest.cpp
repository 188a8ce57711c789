#include "TestRegistry.h"
#include "analysis/AnalysisSettings.h"
#include "document/TALVEN77PCDoc.h"
#include "export/UndoJournal.h"
#include "platform/ProgramIdentity.h"
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
};

TALVEN77_REGISTER_TEST(StoredNumbersTest);
#include "StoredNumbersTest.moc"
