#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "app/DesktopIdentity.h"
#include "app/JapaneseUi.h"
#include "app/MainFrame.h"
#include "app/PasswordDlg.h"
#include "app/SingleInstance.h"
#include "app/TALVEN77PCApp.h"
#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "info/SplashWnd.h"
#include "platform/ProgramIdentity.h"
#include "platform/SimulatedDriveSource.h"
#include "view/FolderTreePane.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/TALVEN77PCView.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QItemSelectionModel>
#include <QIcon>
#include <QImageReader>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLockFile>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QString kAlreadyRunning = QStringLiteral("プログラムは既に起動しています。");

// Answers the next modal password dialog, once it shows, with the given entries.
void enterPasswords(const QStringList& entries)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, entries] {
        auto* dialog = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        for (const QString& entry : entries) {
            if (!dialog->isVisible())
                break;
            dialog->edit()->setText(entry);
            dialog->accept();
        }
    });
    timer->start(20);
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString settingsFile() const
    {
        return OpenProgramSettings()->fileName();
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(settingsFile());
    }

    void oneCopyPerUser()
    {
        const QString runtime = m_dir.filePath(QStringLiteral("runtime-one"));
        auto first = std::make_unique<SingleInstance>(runtime);
        QCOMPARE(first->acquire(), SingleInstance::Result::First);
        SingleInstance second(runtime);
        QCOMPARE(second.acquire(), SingleInstance::Result::RunningCopyFound);
        first.reset();
        SingleInstance third(runtime);
        QCOMPARE(third.acquire(), SingleInstance::Result::First);

        // A lock without a listening copy: end silently.
        const QString other = m_dir.filePath(QStringLiteral("runtime-two"));
        QDir().mkpath(other);
        QLockFile held(QDir(other).filePath(kProgramTitle + QStringLiteral(".lock")));
        QVERIFY(held.tryLock());
        SingleInstance blocked(other);
        QCOMPARE(blocked.acquire(), SingleInstance::Result::LockedWithoutCopy);
    }

    void secondCopyEndsWithoutTouchingAnything()
    {
        const QString runtime = m_dir.filePath(QStringLiteral("runtime-three"));
        SingleInstance first(runtime);
        QCOMPARE(first.acquire(), SingleInstance::Result::First);
        const QString save = m_dir.filePath(QStringLiteral("never/made"));
        OpenProgramSettings()->setValue(QStringLiteral("Settings/SavePath"), save);
        const QByteArray settingsBefore = [&] {
            QFile file(settingsFile());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        }();

        MessageRecorder messages;
        CTALVEN77PCApp second(runtime);
        QVERIFY(!second.InitInstance());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, kAlreadyRunning);
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);
        QVERIFY(!QFileInfo::exists(save));
        QVERIFY(!SplashWindow());
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), settingsBefore);
    }

    // A later copy hands the running one the files it was started with, whatever their names
    // hold; one started without any hands over an empty list.
    void handOverCarriesThePaths_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::newRow("none") << QStringList();
        QTest::newRow("one") << QStringList{QStringLiteral("/home/u/録音/会議 1.mp3")};
        QTest::newRow("several, odd names")
            << QStringList{QStringLiteral("/a/b\nc.mp3"), QStringLiteral("/a/line\nbreak.mp3"), QStringLiteral("/x/y.mp3")};
    }
    void handOverCarriesThePaths()
    {
        QFETCH(QStringList, paths);
        const QString runtime = m_dir.filePath(QStringLiteral("runtime-handover"));
        SingleInstance first(runtime);
        QCOMPARE(first.acquire(), SingleInstance::Result::First);
        QList<QStringList> received;
        first.setReceiver([&received](const QStringList& got) { received.append(got); });
        SingleInstance second(runtime);
        QCOMPARE(second.acquire(paths), SingleInstance::Result::RunningCopyFound);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received[0], paths);
    }

    void pathsFromTheCommandLine_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("path"); // below the current folder
        QTest::newRow("relative") << QStringLiteral("day/r 1.mp3") << QStringLiteral("day/r 1.mp3");
        QTest::newRow("with dots") << QStringLiteral("./x/../day/r.mp3") << QStringLiteral("day/r.mp3");
        QTest::newRow("absolute") << QStringLiteral("%1/day/r.mp3") << QStringLiteral("day/r.mp3");
        QTest::newRow("file URL") << QStringLiteral("file://%1/day/r%201.mp3") << QStringLiteral("day/r 1.mp3");
    }
    void pathsFromTheCommandLine()
    {
        QFETCH(QString, argument);
        QFETCH(QString, path);
        const QString here = QDir::currentPath();
        if (argument.contains(QStringLiteral("%1")))
            argument = argument.arg(here);
        QCOMPARE(PathsToOpen({argument, QString()}), QStringList{here + u'/' + path});
    }

    // Started with a recording, the window shows it; a second start with another hands it
    // over: the running window shows that one instead, and the second copy says nothing.
    void opensTheRecordingItIsGiven()
    {
        const QString save = m_dir.filePath(QStringLiteral("save-open"));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day1")));
        QVERIFY(QDir().mkpath(save + QStringLiteral("/day2")));
        const QString r1 = save + QStringLiteral("/day1/r1.mp3");
        const QString r2 = save + QStringLiteral("/day2/r2.mp3");
        for (const QString& path : {r1, r2, save + QStringLiteral("/day2/r3.mp3")})
            QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(1, QStringLiteral("メモ")), ShortSpeechAudio())));
        OpenProgramSettings()->setValue(QStringLiteral("Settings/SavePath"), save);
        const QString runtime = m_dir.filePath(QStringLiteral("runtime-open"));

        MessageRecorder messages;
        CTALVEN77PCApp program(runtime);
        QVERIFY(program.InitInstance({r1}));
        const auto selectedPath = [&program] {
            const CTALVEN77PCView* view = program.mainFrame()->view();
            const QModelIndexList rows = view->recordingList()->selectionModel()->selectedRows();
            return rows.size() == 1 ? view->recordings()->recordAt(rows[0].row()).szFilePath : QString();
        };
        QCOMPARE(selectedPath(), r1);
        QCOMPARE(program.mainFrame()->folderTree()->currentItem()->text(0), QStringLiteral("day1"));

        program.mainFrame()->setWindowState(Qt::WindowMinimized);
        CTALVEN77PCApp second(runtime);
        QVERIFY(!second.InitInstance({r2}));
        QTRY_COMPARE(selectedPath(), r2);
        QCOMPARE(program.mainFrame()->folderTree()->currentItem()->text(0), QStringLiteral("day2"));
        QVERIFY(!program.mainFrame()->isMinimized());
        QVERIFY(messages.entries().isEmpty());
    }

    void saveFolderCreation()
    {
        MessageRecorder messages;
        const QString nested = m_dir.filePath(QStringLiteral("a/b/c"));
        QVERIFY(EnsureSaveFolder(nested));
        QVERIFY(QFileInfo(nested).isDir());
        QVERIFY(EnsureSaveFolder(nested + u'/'));
        QVERIFY(messages.entries().isEmpty());

        // A relative setting makes nothing where the program happens to run.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(nested));
        const bool madeRelative = EnsureSaveFolder(QStringLiteral("Corvane/TALVEN-77"));
        QVERIFY(QDir::setCurrent(before));
        QVERIFY(!madeRelative);
        QVERIFY(QDir(nested).isEmpty());
        QVERIFY(messages.entries().isEmpty());

        QVERIFY(WriteFileBytes(m_dir.filePath(QStringLiteral("plain-file")), "x"));
        QVERIFY(!EnsureSaveFolder(m_dir.filePath(QStringLiteral("plain-file/sub"))));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("Save Directory Create Error!!!"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Warning);
    }

    void startsWithTheTreeOfWhatIsThere()
    {
        const QString card = m_dir.filePath(QStringLiteral("card"));
        QVERIFY(MakeCard({card, 2, 3, 5, {}}));
        const QString list = m_dir.filePath(QStringLiteral("drives.txt"));
        QVERIFY(WriteFileBytes(list, QStringLiteral("card %1\n").arg(card).toUtf8()));
        SimulatedDriveSource drives(list);
        SetDriveSource(&drives);
        const auto restoreDrives = qScopeGuard([] { SetDriveSource(nullptr); });
        const QString save = m_dir.filePath(QStringLiteral("save-start"));
        OpenProgramSettings()->setValue(QStringLiteral("Settings/SavePath"), save);

        MessageRecorder messages;
        CTALVEN77PCApp program(m_dir.filePath(QStringLiteral("runtime-four")));
        QVERIFY(program.InitInstance());
        QVERIFY(messages.entries().isEmpty());
        QVERIFY(QFileInfo(save).isDir()); // made when missing
        QVERIFY(!SplashWindow());         // gone before the main window shows
        QVERIFY(program.mainFrame()->isVisible());
        QCOMPARE(program.m_nAuthenticated, 1);
        QCOMPARE(program.mainFrame()->windowTitle(), QStringLiteral("TALVEN-77-PC Player"));

        QTreeWidget* tree = program.mainFrame()->folderTree();
        QTreeWidgetItem* top = tree->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("Voice Data"));
        QCOMPARE(tree->currentItem(), top);
        QTreeWidgetItem* cardRoot = top->child(0);
        QCOMPARE(cardRoot->childCount(), 1);
        QVERIFY(cardRoot->isExpanded());
        QVERIFY(cardRoot->child(0)->text(0).startsWith(QStringLiteral("(002)2611")));
        QCOMPARE(cardRoot->child(0)->data(0, kListIdRole).toInt(), program.document()->fileLists().front()->nId());
        QVERIFY(!top->child(1)->isExpanded()); // the empty save-folder root
    }

    // The recorder attached at start-up with the automatic transfer on: the
    // transfer runs before the main window shows, the splash telling of it and
    // the progress window hidden; a message closes the splash first.
    void automaticTransferAtStartUp_data()
    {
        QTest::addColumn<bool>("diskFull");
        QTest::newRow("transferred") << false;
        QTest::newRow("disk full") << true;
    }
    void automaticTransferAtStartUp()
    {
        QFETCH(bool, diskFull);
        const QString card = m_dir.filePath(diskFull ? QStringLiteral("usb-full") : QStringLiteral("usb"));
        QVERIFY(MakeCard({card, 4, 3, 9, {}}));
        QCOMPARE(ClearTransferredFlags(card), 3);
        const QString list = m_dir.filePath(QStringLiteral("drives-usb.txt"));
        QVERIFY(WriteFileBytes(list, QStringLiteral("usb %1\n").arg(card).toUtf8()));
        SimulatedDriveSource drives(list);
        SetDriveSource(&drives);
        const QString save = m_dir.filePath(diskFull ? QStringLiteral("save-full") : QStringLiteral("save-usb"));
        OpenProgramSettings()->setValue(QStringLiteral("Settings/SavePath"), save);
        OpenProgramSettings()->setValue(QStringLiteral("Settings/AutoUsb"), 1);

        // What the screen shows each time a file is about to be written.
        struct Seen
        {
            QString splash;
            bool windowShown = false;
        };
        QList<Seen> seen;
        SetFreeSpaceQuery([&seen, diskFull](const QString&) {
            Seen now;
            now.splash = SplashWindow() ? SplashWindow()->statusText() : QStringLiteral("(none)");
            for (QWidget* widget : QApplication::topLevelWidgets())
                now.windowShown = now.windowShown || (widget->isVisible() && widget != SplashWindow());
            seen.append(now);
            return FreeSpaceFigures{diskFull ? 1000u : 8ull << 30, 16ull << 30, 0};
        });
        const auto restore = qScopeGuard([] {
            SetDriveSource(nullptr);
            SetFreeSpaceQuery({});
        });
        // Whether the splash was still there as each message came.
        struct SplashAtMessage final : StackedMessagePresenter
        {
            QStringList texts;
            QList<bool> splashThere;
            MessageAnswer present(const QString& text, MessageIcon, MessageButtons) override
            {
                texts.append(text);
                splashThere.append(SplashWindow() != nullptr);
                return MessageAnswer::Ok;
            }
        } messages;

        CTALVEN77PCApp program(m_dir.filePath(diskFull ? QStringLiteral("runtime-full") : QStringLiteral("runtime-usb")));
        QVERIFY(program.InitInstance());
        QVERIFY(program.mainFrame()->isVisible());
        QVERIFY(!SplashWindow());
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.first().splash, QStringLiteral("USB自動転送実行中... "));
        for (const Seen& now : seen)
            QVERIFY(!now.windowShown);
        int copies = 0;
        for (QDirIterator it(save, {QStringLiteral("*.mp3")}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QVERIFY(it.next().startsWith(save + QStringLiteral("/004/")));
            ++copies;
        }
        if (!diskFull) {
            QVERIFY(messages.texts.isEmpty());
            QCOMPARE(seen.size(), 3);
            QCOMPARE(copies, 3);
            return;
        }
        QCOMPARE(messages.texts, (QStringList{NotEnoughFreeSpaceMessage(), QStringLiteral("バックアップを中断しました。")}));
        QCOMPARE(messages.splashThere, (QList<bool>{false, false}));
        QCOMPARE(copies, 0);
    }

    void passwordAtStartUp_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("authenticated");
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("right at once") << QStringList{"secret"} << 1 << false << QStringList{};
        QTest::newRow("right the third time") << QStringList{"a", "b", "secret"} << 1 << false
                                              << QStringList{"パスワードが違います。", "パスワードが違います。"};
        QTest::newRow("three wrong") << QStringList{"a", "Secret", "c"} << 0 << true
                                     << QStringList{"パスワードが違います。", "パスワードが違います。", "パスワード認証失敗"};
    }
    void passwordAtStartUp()
    {
        QFETCH(QStringList, entries);
        QFETCH(int, authenticated);
        QFETCH(bool, minimized);
        QFETCH(QStringList, messages);
        CSetting setting;
        setting.Load();
        setting.m_strSavePath = m_dir.filePath(QStringLiteral("save-pw"));
        setting.m_strPassword = QStringLiteral("secret");
        setting.m_nUsePassword = 1;
        setting.Save();

        MessageRecorder recorder;
        CTALVEN77PCApp program(m_dir.filePath(QStringLiteral("runtime-pw")));
        enterPasswords(entries);
        QVERIFY(program.InitInstance());
        QCOMPARE(program.m_nAuthenticated, authenticated);
        QCOMPARE(program.mainFrame()->isMinimized(), minimized);
        QStringList shown;
        for (const auto& entry : recorder.entries())
            shown.append(entry.text);
        QCOMPARE(shown, messages);
        if (!messages.isEmpty())
            QCOMPARE(recorder.entries().last().icon, messages.size() == 3 ? MessageIcon::Error : MessageIcon::Warning);
    }

    void longLivedDialogKeepsItsCount()
    {
        MessageRecorder messages;
        QWidget mainWindow;
        int authenticated = 1;
        const QString noPassword;
        CPasswordDlg dialog(noPassword, authenticated, &mainWindow);
        dialog.show();
        for (int i = 0; i < 3; ++i) {
            dialog.edit()->setText(QStringLiteral("x"));
            dialog.accept();
        }
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(authenticated, 0);
        dialog.show();
        dialog.edit()->setText(QStringLiteral("y"));
        dialog.accept(); // a fourth wrong entry fails at once
        QCOMPARE(messages.entries().last().text, QStringLiteral("パスワード認証失敗"));
        QCOMPARE(messages.entries().size(), 4);
        dialog.show();
        dialog.edit()->setText(QString()); // an empty entry matches an empty password
        dialog.accept();
        QCOMPARE(authenticated, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.edit()->maxLength(), 20);
        QCOMPARE(dialog.edit()->echoMode(), QLineEdit::Password);
    }

    void exitConfirmation()
    {
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::No, MessageAnswer::Yes});
        QVERIFY(!ConfirmExit());
        QVERIFY(ConfirmExit());
        QCOMPARE(messages.entries()[0].text, QStringLiteral("アプリケーションを終了しますか？"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Question);
        QCOMPARE(messages.entries()[0].buttons, MessageButtons::YesNo);
    }

    void japaneseStandardTexts()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        const bool translated = InstallJapaneseUi(*app);
        QVERIFY(QApplication::font().families().contains(QStringLiteral("Noto Sans CJK JP")));
        if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ja.qm")))
            QSKIP("Qt's Japanese translation is not installed (run.sh installs it)");
        QVERIFY(translated);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("キャンセル"));
    }

    // The windows belong to the installed desktop entry and carry its icon.
    void desktopIdentity()
    {
        InstallDesktopIdentity();
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("talven77-pc-player"));
        if (!QImageReader::supportedImageFormats().contains("svg"))
            QSKIP("Qt's SVG image support (Debian package libqt6svg6) is not installed");
        const QIcon icon = QApplication::windowIcon();
        QVERIFY(!icon.isNull());
        const QImage shown = icon.pixmap(QSize(64, 64)).toImage();
        QVERIFY(!shown.isNull());
        QWidget window;
        QCOMPARE(window.windowIcon().cacheKey(), icon.cacheKey());
    }

    void splashWindow()
    {
        g_bSplashEnabled = false;
        ShowSplashScreen();
        QVERIFY(!SplashWindow());
        SetSplashStatus(QStringLiteral("ignored")); // no window: nothing happens

        g_bSplashEnabled = true;
        ShowSplashScreen();
        CSplashWnd* splash = SplashWindow();
        QVERIFY(splash);
        ShowSplashScreen();
        QCOMPARE(SplashWindow(), splash);
        QCOMPARE(splash->size(), QSize(600, 359));
        QVERIFY(!splash->mask().contains(QPoint(0, 0)));   // cut away: a corner of the shape
        QVERIFY(splash->mask().contains(QPoint(300, 200)));
        QCOMPARE(splash->cursor().shape(), Qt::WaitCursor);

        SetSplashStatus(QStringLiteral("保存用フォルダチェック中... [%1]").arg(QString(300, u'x')));
        QVERIFY(splash->statusText().size() > 300);
        QVERIFY(splash->visibleStatusText().endsWith(QChar(0x2026)));
        QVERIFY(splash->visibleStatusText().size() < splash->statusText().size());
        DestroySplashScreen();
        QVERIFY(!SplashWindow());
    }
};

TALVEN77_REGISTER_TEST(StartupTest);
#include "StartupTest.moc"
