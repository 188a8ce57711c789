#include "CardBuilder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "ViewFixture.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileCommands.h"
#include "platform/ProgramIdentity.h"
#include "settings/Setting.h"
#include "view/FolderTreePane.h"
#include "view/RecordingListModel.h"
#include "view/TALVEN77PCView.h"

#include <QDir>
#include <QTest>

// The recorder and the card coming and going while the program runs, as the
// simulated drive list tells them.
class DriveEventsTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    struct Fixture : ViewFixture
    {
        explicit Fixture(const QString& save)
        {
            setting.Load();
            open(save);
        }
        int nodes(const QString& root) { return view->rootLabelled(root)->childCount(); }
        bool deviceRemoved() { return view->fileCommands().engine().deviceRemoved(); }
    };

    QString card(const QString& name, uint16_t number)
    {
        const QString root = m_places.newFolder(name);
        return MakeCard({root, number, 2, number, {}}) ? root : QString();
    }

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void aCardComesAndGoesWhileItsNodeIsSelected()
    {
        const QString save = m_places.newFolder(QStringLiteral("save"));
        Fixture f(save);
        const QString first = card(QStringLiteral("card"), 3);
        const QString second = card(QStringLiteral("other"), 4);
        const QString stick = m_places.newFolder(QStringLiteral("stick")); // no identification file
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + first}));
        QTRY_COMPARE(f.nodes(kCardRootLabel), 1);
        QVERIFY(f.view->rootLabelled(kCardRootLabel)->child(0)->text(0).startsWith(QStringLiteral("(003)")));

        // A second card and a drive that is no recorder's change nothing.
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + first, QStringLiteral("card ") + second,
                                    QStringLiteral("card ") + stick}));
        QTest::qWait(300);
        QCOMPARE(f.nodes(kCardRootLabel), 1);
        QCOMPARE(f.document.GetCardDrive().value(), first);

        f.view->folderTree()->setCurrentItem(f.view->rootLabelled(kCardRootLabel)->child(0));
        QCOMPARE(f.view->recordings()->rowCount(), 2);
        QVERIFY(!f.deviceRemoved());
        QVERIFY(m_places.setDrives({QStringLiteral("card ") + second}));
        QTRY_COMPARE(f.nodes(kCardRootLabel), 0);
        QCOMPARE(f.view->recordings()->rowCount(), 0);
        QCOMPARE(f.view->folderTree()->currentItem(), f.view->topRoot());
        QVERIFY(!f.document.GetCardDrive());
        QVERIFY(f.deviceRemoved());
    }

    // A device's node comes and goes while a folder of the save folder is on
    // show: that folder stays selected and keeps its rows.
    void aDeviceComesAndGoesWhileASaveFolderIsSelected_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("root");
        QTest::newRow("recorder") << "usb" << kRecorderRootLabel;
        QTest::newRow("card") << "card" << kCardRootLabel;
    }
    void aDeviceComesAndGoesWhileASaveFolderIsSelected()
    {
        QFETCH(QString, kind);
        QFETCH(QString, root);
        const QString save = m_places.newFolder(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day")));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/day/a.mp3"), BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        Fixture f(save);
        QTreeWidgetItem* day = f.view->rootLabelled(kSaveRootLabel)->child(0);
        f.view->folderTree()->setCurrentItem(day);
        const QString device = card(QStringLiteral("device"), 5);
        QVERIFY(m_places.setDrives({kind + u' ' + device}));
        QTRY_COMPARE(f.nodes(root), 1);
        QCOMPARE(f.panel.usb, kind == "usb");
        QVERIFY(m_places.setDrives({}));
        QTRY_COMPARE(f.nodes(root), 0);
        QVERIFY(!f.panel.usb);
        QVERIFY(f.deviceRemoved());
        QCOMPARE(f.view->folderTree()->currentItem(), day);
        QCOMPARE(f.view->recordings()->rowCount(), 1);
    }
};

TALVEN77_REGISTER_TEST(DriveEventsTest);

#include "DriveEventsTest.moc"
