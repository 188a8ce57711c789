#include "CardBuilder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/ProgramIdentity.h"
#include "SimulatedPlaces.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

QStringList childLabels(const FolderTreeNode& node)
{
    QStringList labels;
    for (const FolderTreeNode& child : node.children)
        labels.append(child.label);
    return labels;
}

} // namespace

class DocumentTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    QString newFolder(const QString& name) { return m_places.newFolder(name); }
    void setDrives(const QStringList& lines) { QVERIFY(m_places.setDrives(lines)); }
    // A card root with Device.Dat and one recording per flag (0 untransferred, 1 transferred).
    QString makeCard(uint16_t number, const QList<int>& transferred = {})
    {
        const QString root = newFolder(QStringLiteral("card"));
        [&] { QVERIFY(WriteFileBytes(root + QStringLiteral("/Device.Dat"), DeviceDatBytes(number))); }();
        const QString folder = root + QStringLiteral("/%1_TALVEN-77/202611/02/").arg(number, 3, 10, QLatin1Char('0'));
        for (int i = 0; i < transferred.size(); ++i) {
            tagVoiceHeader header = MakeVoiceHeader(0);
            header.transferredFlag = uint8_t(transferred[i]);
            [&] { QVERIFY(WriteFileBytes(folder + QStringLiteral("REC%1.MP3").arg(i), BuildRecording(header, ShortSpeechAudio()), QDateTime(QDate(2026, 11, 2), QTime(9, 0)))); }();
        }
        return root;
    }

private Q_SLOTS:
    void init()
    {
        setDrives({});
        OpenProgramSettings()->clear();
    }

    void nothingAttachedGivesFourEmptyRoots()
    {
        CTALVEN77PCDoc document;
        QStringList progress;
        document.RunStartupChecks(newFolder(QStringLiteral("save")), [&](const QString& text) { progress.append(text); });
        QCOMPARE(progress, (QStringList{"装置およびSDカードチェック中...", "保存用フォルダチェック中.....", "任意フォルダチェック中....."}));
        QVERIFY(document.fileLists().empty());

        const FolderTreeNode tree = BuildFolderTree(document);
        QCOMPARE(tree.label, QStringLiteral("Voice Data"));
        QCOMPARE(childLabels(tree), (QStringList{"SDｶｰﾄﾞ", "保存用ﾌｫﾙﾀﾞ", "任意のﾌｫﾙﾀﾞ", "TALVEN-77"}));
        const int images[][2] = {{1, 1}, {2, 2}, {3, 4}, {5, 5}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(tree.children[size_t(i)].image, images[i][0]);
            QCOMPARE(tree.children[size_t(i)].selectedImage, images[i][1]);
            QCOMPARE(tree.children[size_t(i)].id, 0);
            QVERIFY(tree.children[size_t(i)].children.empty());
        }
    }

    void saveFoldersNestAsOnDisk()
    {
        const QString save = newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/one/two/three"));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/loose.mp3"), BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/one/file.txt"), "not a folder"));
        CTALVEN77PCDoc document;
        QStringList progress;
        document.RunStartupChecks(save + u'/', [&](const QString& text) { progress.append(text); });
        QCOMPARE(progress.mid(2, 3), (QStringList{QStringLiteral("保存用フォルダチェック中... [%1/one/]").arg(save),
                                                 QStringLiteral("保存用フォルダチェック中... [%1/one/two/]").arg(save),
                                                 QStringLiteral("保存用フォルダチェック中... [%1/one/two/three/]").arg(save)}));

        QCOMPARE(document.fileLists().size(), size_t(3));
        QVERIFY(document.fileLists()[0]->nId() >= 1);
        for (const auto& list : document.fileLists()) {
            QCOMPARE(list->nKind(), int(kListSaveFolder));
            QCOMPARE(list->GetRecordCount(), 0); // scanned only when first selected
        }
        QCOMPARE(document.GetSaveSubfolderPath(1), save + QStringLiteral("/one/two/"));
        QCOMPARE(document.GetSaveSubfolderLabel(2), QStringLiteral("three"));
        QVERIFY(!document.GetSaveSubfolderId(3));
        QCOMPARE(document.FindSaveSubfolderId(save + QStringLiteral("/one/two")), document.GetSaveSubfolderId(1));
        QCOMPARE(document.FindParentSaveSubfolderId(save + QStringLiteral("/one/two/three/")), document.GetSaveSubfolderId(1));
        QVERIFY(!document.FindParentSaveSubfolderId(save + QStringLiteral("/one")));

        const FolderTreeNode tree = BuildFolderTree(document);
        const FolderTreeNode& root = tree.children[1];
        QCOMPARE(childLabels(root), QStringList{"one"});
        QCOMPARE(childLabels(root.children[0]), QStringList{"two"});
        QCOMPARE(childLabels(root.children[0].children[0]), QStringList{"three"});
        QCOMPARE(root.children[0].children[0].children[0].id, *document.GetSaveSubfolderId(2));
    }

    void startUpTidiesWhatACrashLeftUnderTemporaryNames()
    {
        const QString save = newFolder(QStringLiteral("save"));
        const QString option = newFolder(QStringLiteral("opt"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day/.talven77-rename-aaaa1111-Renamed.tmp")));
        const QByteArray recording = BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio());
        QVERIFY(WriteFileBytes(save + QStringLiteral("/day/.talven77-rename-aaaa1111-Renamed.tmp/REC1.MP3"), recording));
        QVERIFY(WriteFileBytes(save + QStringLiteral("/day/.talven77-copy-bbbb2222-REC2.MP3.tmp"), "half a copy"));
        QVERIFY(WriteFileBytes(option + QStringLiteral("/.talven77-rename-cccc3333-Memo.MP3.tmp"), recording));
        QVERIFY(WriteFileBytes(option + QStringLiteral("/.talven77-copy-dddd4444-REC3.MP3.tmp"), "half a copy"));
        {
            const auto settings = OpenProgramSettings();
            settings->setValue(QStringLiteral("OptionFolder/Count"), 1);
            settings->setValue(QStringLiteral("OptionFolder/FolderNo1"), option);
        }

        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        const auto everything = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(save + QStringLiteral("/day")).entryList(everything), QStringList{"Renamed"});
        QCOMPARE(QDir(option).entryList(everything), QStringList{"Memo.MP3"});
        QVERIFY(QFile::exists(save + QStringLiteral("/day/Renamed/REC1.MP3")));
        // The folder is listed under its own name, never under the temporary one.
        QVERIFY(document.FindSaveSubfolderId(save + QStringLiteral("/day/Renamed/")));
        QCOMPARE(document.fileLists().size(), size_t(3));
    }

    void anUnusableSaveFolderListsNothing_data()
    {
        QTest::addColumn<QString>("savePath");
        QTest::newRow("relative") << "Corvane";
        QTest::newRow("empty") << "";
    }
    void anUnusableSaveFolderListsNothing()
    {
        QFETCH(QString, savePath);
        // Where the program was started, with folders a relative setting would find.
        const QString here = newFolder(QStringLiteral("started-here"));
        QVERIFY(QDir().mkpath(here + QStringLiteral("/Corvane/TALVEN-77")));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(here));
        CTALVEN77PCDoc document;
        document.RunStartupChecks(savePath);
        QVERIFY(QDir::setCurrent(before));
        QVERIFY(document.fileLists().empty());
    }

    // Each level of the save folder in ordinal order ignoring case (code units
    // compared with the letters upper-cased), whatever order the directory gives.
    void saveFoldersAreInNameOrder_data()
    {
        QTest::addColumn<QStringList>("made");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("months") << QStringList{"2026-11", "2026-12", "2026-10"}
                                << QStringList{"2026-10", "2026-11", "2026-12"};
        QTest::newRow("case ignored") << QStringList{"b", "C", "a"} << QStringList{"a", "b", "C"};
        QTest::newRow("letters before underscore") << QStringList{"_x", "b", "A1"}
                                                   << QStringList{"A1", "b", "_x"};
        QTest::newRow("namesakes by case") << QStringList{"day", "Day"} << QStringList{"Day", "day"};
    }

    void saveFoldersAreInNameOrder()
    {
        QFETCH(QStringList, made);
        QFETCH(QStringList, shown);
        const QString save = newFolder(QStringLiteral("save"));
        for (const QString& name : made) {
            QVERIFY(QDir().mkpath(save + u'/' + name + QStringLiteral("/inner2")));
            QVERIFY(QDir().mkpath(save + u'/' + name + QStringLiteral("/Inner1")));
        }
        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        const FolderTreeNode tree = BuildFolderTree(document);
        const FolderTreeNode& root = tree.children[1];
        QCOMPARE(childLabels(root), shown);
        for (const FolderTreeNode& child : root.children)
            QCOMPARE(childLabels(child), (QStringList{"Inner1", "inner2"}));
    }

    // A folder whose name does not decode could not be opened again by its
    // decoded name: it is left out with everything below it, as such files are.
    void saveFolderNamesThatDoNotDecodeAreLeftOut()
    {
        const QString save = newFolder(QStringLiteral("save"));
        const QByteArray native = QFile::encodeName(save);
        QCOMPARE(::mkdir((native + "/bad\xff").constData(), 0777), 0);
        QCOMPARE(::mkdir((native + "/bad\xff/inner").constData(), 0777), 0);
        QVERIFY(QDir().mkpath(save + QStringLiteral("/good")));
        CTALVEN77PCDoc document;
        document.RunStartupChecks(save + u'/');
        QStringList folders;
        for (const auto& list : document.fileLists())
            folders.append(list->strFolder());
        QCOMPARE(folders, QStringList{save + QStringLiteral("/good/")});
        QCOMPARE(childLabels(BuildFolderTree(document).children[1]), QStringList{"good"});
    }

    void firstValidCardAndTheRecorderBecomeRoots()
    {
        const QString noDeviceFile = newFolder(QStringLiteral("stick"));
        const QString cardE = makeCard(3, {0});
        const QString cardG = makeCard(4, {0, 0});
        const QString recorder = makeCard(1, {0, 1, 0});
        setDrives({QStringLiteral("card ") + noDeviceFile, QStringLiteral("card ") + cardE, QStringLiteral("card ") + cardG,
                   QStringLiteral("usb ") + recorder});
        CTALVEN77PCDoc document;
        document.RunStartupChecks(newFolder(QStringLiteral("save")));
        QCOMPARE(document.fileLists().size(), size_t(2));
        QCOMPARE(document.GetCardDrive(), std::optional<QString>(cardE));
        QCOMPARE(document.GetRecorderDrive(), std::optional<QString>(recorder));

        const FolderTreeNode tree = BuildFolderTree(document);
        QCOMPARE(childLabels(tree.children[0]), QStringList{QStringLiteral("(003)261102-261102")});
        QCOMPARE(childLabels(tree.children[3]), QStringList{QStringLiteral("(001)261102-261102")});
        QCOMPARE(tree.children[3].children[0].image, 3);
        QCOMPARE(tree.children[3].children[0].selectedImage, 4);

        QList<tagFileList> untransferred;
        QCOMPARE(document.CollectUntransferred(kListRecorder, untransferred), 2);
        QCOMPARE(untransferred.size(), 2);
        QCOMPARE(document.CollectUntransferred(kListSaveFolder, untransferred), 0);
        QVERIFY(untransferred.isEmpty());

        // A second recorder or card is refused while one is there.
        QVERIFY(!document.AddRecorderRoot(cardG));
        QVERIFY(!document.AddDriveRoot(kListCard, cardG));
        QVERIFY(!document.AddDriveRoot(kListSaveFolder, cardG));
        document.RemoveListsOfKind(kListCard);
        QVERIFY(!document.GetCardDrive());
        QVERIFY(!document.AddDriveRoot(kListCard, noDeviceFile));
        QVERIFY(document.AddDriveRoot(kListCard, cardG));
        QCOMPARE(document.GetCardDrive(), std::optional<QString>(cardG));
    }

    void registeredFolders()
    {
        const QString a = newFolder(QStringLiteral("A"));
        const QString b = newFolder(QStringLiteral("B"));
        CTALVEN77PCDoc document;
        document.LoadOptionFolders();
        QVERIFY(document.RegisterOptionFolder(a));
        QVERIFY(document.RegisterOptionFolder(b));
        QVERIFY(!document.RegisterOptionFolder(a));
        QCOMPARE(document.CountOptionFolders(), 2);
        const auto settings = OpenProgramSettings();
        QCOMPARE(settings->value(QStringLiteral("OptionFolder/Count")).toInt(), 2);
        QCOMPARE(settings->value(QStringLiteral("OptionFolder/FolderNo1")).toString(), a);
        QCOMPARE(settings->value(QStringLiteral("OptionFolder/FolderNo2")).toString(), b);
        for (int i = 3; i <= 10; ++i)
            QCOMPARE(settings->value(QStringLiteral("OptionFolder/FolderNo%1").arg(i), QStringLiteral("missing")).toString(), QString());

        const auto idA = document.FindOptionFolderId(a);
        QVERIFY(idA);
        QCOMPARE(document.GetListLabel(*idA), a);
        QVERIFY(document.ReleaseOptionFolder(a));
        QVERIFY(!document.ReleaseOptionFolder(a));
        document.RemoveList(*idA);
        QCOMPARE(settings->value(QStringLiteral("OptionFolder/Count")).toInt(), 1);
        QCOMPARE(settings->value(QStringLiteral("OptionFolder/FolderNo1")).toString(), b);
        QCOMPARE(settings->value(QStringLiteral("OptionFolder/FolderNo2")).toString(), QString());
        QCOMPARE(document.GetOptionFolderLabel(0), b);

        // A registered folder that has gone still gets its node at the next start.
        QDir(b).removeRecursively();
        CTALVEN77PCDoc next;
        QStringList progress;
        next.LoadOptionFolders([&](const QString& text) { progress.append(text); });
        QCOMPARE(next.optionPaths(), QStringList{b});
        QCOMPARE(progress, QStringList{QStringLiteral("任意フォルダチェック中... [%1]").arg(b)});
        QCOMPARE(childLabels(BuildFolderTree(next).children[2]), QStringList{b});
        const int id = *next.FindOptionFolderId(b);
        next.SetCurrent(id);
        QVERIFY(!next.pCurrent()->EnsureScanned());
        QCOMPARE(next.pCurrent()->GetRecordCount(), 0);
    }

    void dropTargets()
    {
        const QString save = newFolder(QStringLiteral("save"));
        QDir().mkpath(save + QStringLiteral("/x"));
        QDir().mkpath(save + QStringLiteral("/y"));
        setDrives({QStringLiteral("card ") + makeCard(2)});
        CTALVEN77PCDoc document;
        document.RunStartupChecks(save);
        QVERIFY(document.RegisterOptionFolder(newFolder(QStringLiteral("opt"))));
        const int x = *document.FindSaveSubfolderId(save + QStringLiteral("/x"));
        const int y = *document.FindSaveSubfolderId(save + QStringLiteral("/y"));
        const int option = *document.FindOptionFolderId(document.optionPaths().first());
        const int card = document.fileLists().front()->nId();
        QCOMPARE(document.GetListKind(card), int(kListCard));
        QVERIFY(document.CanDropOnFolder(y, x));
        QVERIFY(document.CanDropOnFolder(option, x));
        QVERIFY(!document.CanDropOnFolder(x, x)); // the selected node itself
        QVERIFY(!document.CanDropOnFolder(card, x));
        QVERIFY(!document.CanDropOnFolder(0, x)); // a root
        QVERIFY(!document.CanDropOnFolder(9999, x));
    }

    void currentRecords()
    {
        const QString save = newFolder(QStringLiteral("save"));
        const QString folder = save + QStringLiteral("/day/");
        QVERIFY(WriteFileBytes(folder + QStringLiteral("Rec1.MP3"), BuildRecording(MakeVoiceHeader(2), ShortSpeechAudio())));
        QVERIFY(WriteFileBytes(folder + QStringLiteral("rec2.mp3"), BuildRecording(MakeVoiceHeader(1), ShortSpeechAudio())));
        CTALVEN77PCDoc document;
        document.ScanSaveFolder(save);
        const int id = *document.GetSaveSubfolderId(0);
        QCOMPARE(document.GetCurrentRecord(0).szFileName, QString());
        document.SetCurrent(id);
        document.RescanList(id);
        QCOMPARE(document.pCurrent()->GetRecordCount(), 2);
        QCOMPARE(document.FindCurrentRecord(QStringLiteral("REC1.mp3")).header.mode, 2);
        QVERIFY(document.FindCurrentRecord(QStringLiteral("rec3.mp3")).szFileName.isEmpty());
        QVERIFY(document.GetCurrentRecord(2).szFilePath.isEmpty());
        QCOMPARE(document.GetExistingRecordPath(QStringLiteral("rec2.MP3")), folder + QStringLiteral("rec2.mp3"));
        QFile::remove(folder + QStringLiteral("rec2.mp3"));
        QVERIFY(document.GetExistingRecordPath(QStringLiteral("rec2.mp3")).isEmpty());
        QCOMPARE(document.RefreshList(id), QStringLiteral("day"));
        QCOMPARE(document.pCurrent()->GetRecordCount(), 1);
        QCOMPARE(document.ChangeListFolder(id, save + QStringLiteral("/renamed")), QStringLiteral("renamed"));
        QCOMPARE(document.GetListFolder(id), save + QStringLiteral("/renamed/"));
        document.RemoveList(id);
        QVERIFY(!document.pCurrent()); // a removed list is never left current
        QCOMPARE(document.GetListKind(id), 0);
        QVERIFY(document.GetListFolder(id).isEmpty());
    }
};

TALVEN77_REGISTER_TEST(DocumentTest);
#include "DocumentTest.moc"
