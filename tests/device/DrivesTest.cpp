#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "device/Drives.h"
#include "platform/SystemErrorText.h"
#include "recording/RecorderIdentity.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>

class DrivesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void cleanup()
    {
        SetFreeSpaceQuery({});
    }

    void freeSpaceThresholds_data()
    {
        constexpr uint64_t MiB = 1048576;
        QTest::addColumn<quint64>("totalBytes");
        QTest::addColumn<quint64>("freeBytes");
        QTest::addColumn<bool>("enough");
        QTest::newRow("2048 MiB with exactly 50 free") << quint64(2048 * MiB) << quint64(50 * MiB) << true;
        QTest::newRow("2048 MiB with a byte under 50 free") << quint64(2048 * MiB) << quint64(50 * MiB - 1) << false;
        QTest::newRow("a byte over 2048 MiB still counts as 2048") << quint64(2048 * MiB + MiB - 1) << quint64(50 * MiB) << true;
        QTest::newRow("2049 MiB with 499 free") << quint64(2049 * MiB) << quint64(499 * MiB) << false;
        QTest::newRow("2049 MiB with 500 free") << quint64(2049 * MiB) << quint64(500 * MiB) << true;
        QTest::newRow("1 TiB with 10 GiB free") << quint64(1048576 * MiB) << quint64(10240 * MiB) << true;
        QTest::newRow("full card") << quint64(4096 * MiB) << quint64(0) << false;
    }
    void freeSpaceThresholds()
    {
        QFETCH(quint64, totalBytes);
        QFETCH(quint64, freeBytes);
        QFETCH(bool, enough);
        QString askedPath;
        SetFreeSpaceQuery([&](const QString& path) {
            askedPath = path;
            return FreeSpaceFigures{freeBytes, totalBytes, 0};
        });
        MessageRecorder messages;
        QCOMPARE(HasEnoughFreeSpace(QStringLiteral("/media/card/001_TALVEN-77/")), enough);
        QCOMPARE(askedPath, QStringLiteral("/media/card/001_TALVEN-77/"));
        QVERIFY(messages.entries().isEmpty());
    }

    void failedQueryShowsTheSystemTextAndGoesOn()
    {
        SetFreeSpaceQuery([](const QString&) { return FreeSpaceFigures{0, 0, EIO}; });
        MessageRecorder messages;
        QVERIFY(HasEnoughFreeSpace(QStringLiteral("/media/gone")));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, SystemErrorText(EIO));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Error);
    }

    void realQueryAnswersForFoldersStillToBeMade()
    {
        MessageRecorder messages;
        HasEnoughFreeSpace(m_dir.path());
        HasEnoughFreeSpace(m_dir.filePath(QStringLiteral("not/made/yet/")));
        QVERIFY(messages.entries().isEmpty());
    }

    void writeProbe()
    {
        QVERIFY(IsFolderWritable(m_dir.path()));
        QVERIFY(IsFolderWritable(m_dir.path() + u'/'));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("Protect.tmp"))));
        // An old probe file is replaced and removed.
        QVERIFY(WriteFileBytes(m_dir.filePath(QStringLiteral("Protect.tmp")), "stale"));
        QVERIFY(IsFolderWritable(m_dir.path()));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("Protect.tmp"))));

        QVERIFY(!IsFolderWritable(m_dir.filePath(QStringLiteral("missing/"))));
        // A card with Device.Dat but no recorder folder.
        const QString card = m_dir.filePath(QStringLiteral("card"));
        QVERIFY(WriteFileBytes(card + QStringLiteral("/Device.Dat"), DeviceDatBytes(4)));
        QVERIFY(!IsFolderWritable(RecorderFolderPath(card, ReadRecorderNumber(card))));
    }

    void writeProbeReplacesTheEntryNotWhatItLinksTo_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("writable");
        QTest::newRow("link to a file") << "file link" << true;
        QTest::newRow("link to nowhere") << "dangling link" << true;
        QTest::newRow("link to a folder") << "folder link" << true;
        QTest::newRow("folder of that name") << "folder" << false;
    }
    void writeProbeReplacesTheEntryNotWhatItLinksTo()
    {
        QFETCH(QString, kind);
        QFETCH(bool, writable);
        const QDir base(m_dir.filePath(QStringLiteral("links/")
                                       + QString::fromLatin1(QTest::currentDataTag())));
        QVERIFY(base.mkpath(QStringLiteral("probe")));
        QVERIFY(base.mkpath(QStringLiteral("elsewhere/folder")));
        const QString target = base.filePath(QStringLiteral("elsewhere/recording.mp3"));
        QVERIFY(WriteFileBytes(target, "precious bytes"));
        const QString probe = base.filePath(QStringLiteral("probe/Protect.tmp"));
        if (kind == QStringLiteral("file link"))
            QVERIFY(QFile::link(target, probe));
        else if (kind == QStringLiteral("dangling link"))
            QVERIFY(QFile::link(base.filePath(QStringLiteral("elsewhere/created.mp3")), probe));
        else if (kind == QStringLiteral("folder link"))
            QVERIFY(QFile::link(base.filePath(QStringLiteral("elsewhere/folder")), probe));
        else
            QVERIFY(base.mkpath(QStringLiteral("probe/Protect.tmp")));

        QCOMPARE(IsFolderWritable(base.filePath(QStringLiteral("probe/"))), writable);
        QCOMPARE(ReadWholeFile(target), QByteArray("precious bytes"));
        QVERIFY(!QFile::exists(base.filePath(QStringLiteral("elsewhere/created.mp3"))));
        QVERIFY(QFileInfo(base.filePath(QStringLiteral("elsewhere/folder"))).isDir());
        QVERIFY(QDir(base.filePath(QStringLiteral("elsewhere/folder"))).isEmpty());
        // The probe leaves nothing behind, except a folder it may not remove.
        QCOMPARE(QFileInfo::exists(probe) || QFileInfo(probe).isSymLink(), !writable);
    }

    void folderExists_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("exists");
        QTest::newRow("folder") << "sub" << true;
        QTest::newRow("folder with separator") << "sub/" << true;
        QTest::newRow("file") << "sub/file.mp3" << false;
        QTest::newRow("missing") << "nothing" << false;
        QTest::newRow("dot") << "sub/." << false;
        QTest::newRow("dot dot") << "sub/.." << false;
    }
    void folderExists()
    {
        QFETCH(QString, relative);
        QFETCH(bool, exists);
        QDir(m_dir.path()).mkpath(QStringLiteral("sub"));
        WriteFileBytes(m_dir.filePath(QStringLiteral("sub/file.mp3")), "x");
        QCOMPARE(FolderExists(m_dir.filePath(relative)), exists);
    }
};

TALVEN77_REGISTER_TEST(DrivesTest);
#include "DrivesTest.moc"
