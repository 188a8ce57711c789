#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "SimulatedPlaces.h"
#include "app/MainFrame.h"
#include "app/TALVEN77PCApp.h"
#include "app/PasswordDlg.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"
#include "platform/WidgetMessagePresenter.h"
#include "platform/SimulatedDriveSource.h"
#include "settings/Setting.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/RecordingListPane.h"
#include "view/TALVEN77PCView.h"
#include "transport/TransportSettings.h"

Q_DECLARE_METATYPE(Command)

#include <QAction>
#include <QImage>
#include <QPixmap>
#include <QDebug>
#include <QMap>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QScopeGuard>
#include <QLibraryInfo>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <functional>
#include <QToolBar>
#include <QTreeWidget>
#include <QtEndian>

class MainFrameTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    struct Frame
    {
        CTALVEN77PCDoc document;
        CSetting setting;
        int authenticated = 1;
        std::unique_ptr<CMainFrame> frame;
        Frame()
        {
            setting.Load();
            frame = std::make_unique<CMainFrame>(document, setting, authenticated);
        }
        // Shows the window, then minimizes and restores it as the user does.
        void minimizeAndRestore()
        {
            frame->show();
            if (!QTest::qWaitForWindowExposed(frame.get()))
                qWarning("the main window did not show");
            frame->showMinimized();
            QTest::qWait(50);
            frame->showNormal();
            QTest::qWait(100);
        }
    };

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
    }

    void menusAndToolbar_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("statusTip");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QList<QKeySequence>>("keys");
        QTest::newRow("transfer") << Command::Transfer << "TALVEN-77の音声ファイルを保存用フォルダに転送します。" << "転送"
                                  << QList<QKeySequence>{};
        QTest::newRow("eject") << Command::Eject << "SDカードを安全に取りだします。" << "取出" << QList<QKeySequence>{};
        QTest::newRow("delete") << Command::DeleteFiles << "選択中のファイルを削除します。" << "ファイル削除"
                                << QList<QKeySequence>{QKeySequence(Qt::Key_Delete)};
        QTest::newRow("cut") << Command::Cut << "音声ファイルを切り取ります。" << "切り取り"
                             << QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+X")), QKeySequence(QStringLiteral("Shift+Del"))};
        QTest::newRow("copy") << Command::Copy << "音声ファイルをコピーします。" << "コピー"
                              << QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+C")), QKeySequence(QStringLiteral("Ctrl+Ins"))};
        QTest::newRow("paste") << Command::Paste << "切り取り/コピーされた音声ファイルを貼り付けます。" << "貼り付け"
                               << QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+V")), QKeySequence(QStringLiteral("Shift+Ins"))};
        QTest::newRow("find") << Command::Find << "音声ファイルを検索します。" << "検索" << QList<QKeySequence>{QKeySequence(QStringLiteral("Ctrl+F"))};
        QTest::newRow("find next") << Command::FindNext << "次を検索します。" << "次を検索" << QList<QKeySequence>{QKeySequence(Qt::Key_F3)};
        QTest::newRow("find previous") << Command::FindPrevious << "前を検索します。" << "前を検索"
                                       << QList<QKeySequence>{QKeySequence(QStringLiteral("Shift+F3"))};
        QTest::newRow("rebuild") << Command::Rebuild << "表示リストを再構築します。" << "再構築" << QList<QKeySequence>{QKeySequence(Qt::Key_F7)};
        QTest::newRow("refresh") << Command::Refresh << "最新の状態に更新します。" << "更新" << QList<QKeySequence>{QKeySequence(Qt::Key_F5)};
        QTest::newRow("settings") << Command::Settings << "各機能の設定を行います。" << "設定" << QList<QKeySequence>{};
        QTest::newRow("recorder names") << Command::DeviceNames << "装置名を登録します。" << "装置名" << QList<QKeySequence>{};
    }
    void menusAndToolbar()
    {
        QFETCH(Command, command);
        QFETCH(QString, statusTip);
        QFETCH(QString, toolTip);
        QFETCH(QList<QKeySequence>, keys);
        Frame f;
        QAction* action = f.frame->command(command);
        QVERIFY(action);
        QCOMPARE(action->statusTip(), statusTip);
        QCOMPARE(action->toolTip(), toolTip);
        QCOMPARE(action->shortcuts(), keys);
        // Refresh, find and the settings always work; the others wait for their parts, a card or a selected folder.
        const QList<Command> alwaysOn{Command::Refresh, Command::Find, Command::FindPrevious, Command::FindNext,
                                      Command::Settings, Command::DeviceNames};
        QCOMPARE(action->isEnabled(), alwaysOn.contains(command));
    }

    // Every entry of every menu has an access letter of its own within its menu, and the
    // keys shown beside the entries are written one way: the key's words ("Ctrl+Left"), as
    // the file and edit menus write theirs, also under Qt's Japanese texts (which would draw
    // "Ctrl+←" for a shortcut left to Qt to show) and for keys the user bound.
    void menuEntriesHaveAccessLettersAndKeyWords()
    {
        QTranslator japanese;
        const bool translated = japanese.load(QStringLiteral("qtbase_ja"),
                                              QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        if (translated)
            QCoreApplication::installTranslator(&japanese);
        const auto untranslate = qScopeGuard([&] { QCoreApplication::removeTranslator(&japanese); });
        TransportSettings bound = TransportSettings::Load();
        bound.keys[size_t(TransportAction::Replay)] = QStringLiteral("Shift+Left");
        QVERIFY(bound.Save());
        Frame f;
        QStringList faults;
        std::function<void(QMenu*)> check = [&](QMenu* menu) {
            QMap<QKeySequence, QString> letters;
            for (QAction* entry : menu->actions()) {
                if (entry->isSeparator())
                    continue;
                const QString text = entry->text();
                const QString where = menu->title() + u'/' + text;
                const QKeySequence letter = QKeySequence::mnemonic(text);
                if (letter.isEmpty())
                    faults.append(where + QStringLiteral(": no access letter"));
                else if (letters.contains(letter))
                    faults.append(where + QStringLiteral(": its letter is ") + letters.value(letter) + QStringLiteral("'s"));
                letters.insert(letter, text);
                if (entry->menu()) {
                    check(entry->menu());
                    continue;
                }
                // What the menu shows beside the entry: the text after a tab, else the
                // shortcut as Qt writes it.
                const qsizetype tab = text.indexOf(u'\t');
                const QString shown = tab >= 0 ? text.mid(tab + 1).trimmed()
                                               : entry->shortcut().toString(QKeySequence::NativeText);
                if (shown.contains(QRegularExpression(QStringLiteral("[^\\x20-\\x7e]"))) ||
                    QKeySequence(shown, QKeySequence::PortableText) != entry->shortcut())
                    faults.append(where + QStringLiteral(": the key shown as ") + shown);
            }
        };
        for (QAction* menu : f.frame->menuBar()->actions())
            check(menu->menu());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
        QCOMPARE(f.frame->command(TransportCommand(TransportAction::Replay))->text(),
                 QStringLiteral("直前を再生(&R)\tShift+Left"));
        if (!translated)
            QSKIP("Qt's Japanese translation is not installed: the keys were read in Qt's own words");
    }

    void frameLayout()
    {
        Frame f;
        CMainFrame& frame = *f.frame;
        QCOMPARE(frame.windowTitle(), QStringLiteral("TALVEN-77-PC Player"));
        frame.show();
        frame.resize(400, 300); // cannot be made smaller than 850 × 530
        QCOMPARE(frame.size(), QSize(850, 530));
        QStringList menus;
        for (QAction* menu : frame.menuBar()->actions())
            menus.append(menu->text());
        QCOMPARE(menus, (QStringList{"ファイル(&F)", "編集(&E)", "表示(&V)", "再生(&P)", "設定(&S)", "ヘルプ(&H)"}));
        auto* toolbar = frame.findChild<QToolBar*>();
        QCOMPARE(toolbar->windowTitle(), QStringLiteral("標準"));
        QCOMPARE(toolbar->actions().size(), 14); // 13 buttons and a separator
        QCOMPARE(toolbar->actions()[7], frame.command(Command::Eject));
        QVERIFY(toolbar->actions()[8]->isSeparator());
        QVERIFY(frame.command(Command::Exit)->isEnabled());

        QCOMPARE(frame.operationText(), QStringLiteral("レディ"));
        QCOMPARE(frame.recordingCountText(), QStringLiteral("録音件数    0件"));
        frame.ShowRecordingCount(1234);
        QCOMPARE(frame.recordingCountText(), QStringLiteral("録音件数 1234件"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(frame.clockText()).hasMatch());
    }

    // The playback menu in the panel's order, its groups apart, with each entry's
    // status-bar text.
    void playbackMenuListsTheTransport()
    {
        Frame f;
        QMenu* playback = nullptr;
        for (QAction* menu : f.frame->menuBar()->actions()) {
            if (menu->text() == QStringLiteral("再生(&P)"))
                playback = menu->menu();
        }
        QVERIFY(playback);
        QStringList entries;
        for (QAction* entry : playback->actions())
            entries.append(entry->isSeparator() ? QStringLiteral("-") : entry->text().section(u'\t', 0, 0));
        QCOMPARE(entries, (QStringList{"再生/一時停止(&P)", "停止(&S)", "-", "戻る(&B)", "進む(&F)",
                                       "前のインデックス(&U)", "次のインデックス(&D)", "直前を再生(&R)", "-",
                                       "速く(&H)", "遅く(&L)", "標準の速さ(&N)", "-", "無音部分をスキップ(&K)",
                                       "前の無音境界へ(&V)", "次の無音境界へ(&X)", "-", "再生の設定(&T)..."}));
        const QAction* replay = f.frame->command(TransportCommand(TransportAction::Replay));
        QCOMPARE(replay->statusTip(), QStringLiteral("直前の数秒をもう一度再生し、そのまま再生を続けます。"));
        QCOMPARE(replay->toolTip(), QStringLiteral("直前を再生"));
        QCOMPARE(replay->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
    }

    // Every toolbar button has a picture of its own, and the drawn ones are drawn at
    // each pixel ratio's own size, not scaled from a small picture.
    void toolbarPicturesTellCommandsApart()
    {
        Frame f;
        auto* toolbar = f.frame->findChild<QToolBar*>();
        QList<QImage> pictures;
        QStringList names;
        for (QAction* action : toolbar->actions()) {
            if (action->isSeparator())
                continue;
            const QImage picture = action->icon().pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
            QVERIFY2(!picture.isNull(), qPrintable(action->toolTip()));
            for (qsizetype i = 0; i < pictures.size(); ++i)
                QVERIFY2(pictures[i] != picture, qPrintable(names[i] + QStringLiteral(" looks like ") + action->toolTip()));
            pictures.append(picture);
            names.append(action->toolTip());
        }
        QCOMPARE(pictures.size(), 13);
        for (const Command id : {Command::Cut, Command::Eject, Command::Transfer}) {
            const QIcon icon = f.frame->command(id)->icon();
            const QImage small = icon.pixmap(QSize(16, 16), 1.0).toImage();
            int drawn = 0;
            for (int y = 0; y < small.height(); ++y)
                for (int x = 0; x < small.width(); ++x)
                    drawn += qAlpha(small.pixel(x, y)) > 128;
            QVERIFY2(drawn >= 40, qPrintable(QString::number(drawn)));
            for (const qreal ratio : {1.5, 2.0, 3.0}) {
                const QPixmap sharp = icon.pixmap(QSize(16, 16), ratio);
                QCOMPARE(sharp.size(), QSize(16, 16) * ratio);
                QCOMPARE(sharp.devicePixelRatio(), ratio);
                const QImage scaled = small.scaled(sharp.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                          .convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QVERIFY(sharp.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) != scaled);
            }
        }
    }

    // With nothing loaded or playing, the window wakes up only when the clock's second
    // changes: no panel tick, no clock faster than what it shows.
    void idleWindowSleeps()
    {
        Frame f;
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
        QTest::qWait(100);
        struct WakeUps : QObject
        {
            QObject* window;
            QMap<QString, int> counts;
            bool eventFilter(QObject* receiver, QEvent* event) override
            {
                if (event->type() == QEvent::Timer) {
                    for (QObject* o = receiver; o; o = o->parent()) {
                        if (o == window) {
                            ++counts[QString::fromLatin1(receiver->metaObject()->className())];
                            break;
                        }
                    }
                }
                return false;
            }
        } wakeUps;
        wakeUps.window = f.frame.get();
        qApp->installEventFilter(&wakeUps);
        const QString first = f.frame->clockText();
        QTest::qWait(2100);
        qApp->removeEventFilter(&wakeUps);
        for (const char* quiet : {"CPanelDlg", "PlaybackSession"})
            QVERIFY2(wakeUps.counts.value(QString::fromLatin1(quiet)) == 0, qPrintable(QDebug::toString(wakeUps.counts)));
        // In a little over two seconds, a clock that follows its seconds wakes up two or three times.
        QVERIFY2(wakeUps.counts.value(QStringLiteral("QTimer")) <= 3, qPrintable(QDebug::toString(wakeUps.counts)));
        int total = 0;
        for (const int count : std::as_const(wakeUps.counts))
            total += count;
        QVERIFY2(total <= 3, qPrintable(QDebug::toString(wakeUps.counts)));
        QVERIFY(f.frame->clockText() != first);
    }

    void ejectFollowsTheSelection()
    {
        const QString card = m_dir.filePath(QStringLiteral("card"));
        QVERIFY(MakeCard({card, 5, 1, 3, {}}));
        const QString list = m_dir.filePath(QStringLiteral("drives.txt"));
        QVERIFY(WriteFileBytes(list, QStringLiteral("card %1\n").arg(card).toUtf8()));
        SimulatedDriveSource drives(list);
        SetDriveSource(&drives);
        const auto restoreDrives = qScopeGuard([] { SetDriveSource(nullptr); });
        Frame f;
        f.document.CheckDrives();
        f.frame->view()->OnInitialUpdate();
        QAction* eject = f.frame->command(Command::Eject);
        QVERIFY(!eject->isEnabled());
        f.frame->folderTree()->setCurrentItem(f.frame->view()->rootLabelled(kCardRootLabel)->child(0));
        QVERIFY(eject->isEnabled());
        MessageRecorder messages;
        eject->trigger();
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("SDカードは安全に取り外せます。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Information);
        QFile listFile(list);
        QVERIFY(listFile.open(QIODevice::ReadOnly));
        QVERIFY(!QString::fromUtf8(listFile.readAll()).contains(card)); // the simulated card was released
    }

    void closingAsksFirst()
    {
        Frame f;
        f.frame->show();
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::No});
        f.frame->close();
        QVERIFY(f.frame->isVisible());
        messages.scriptAnswers({MessageAnswer::Yes});
        f.frame->command(Command::Exit)->trigger();
        QVERIFY(!f.frame->isVisible());
        QCOMPARE(messages.entries().size(), 2); // the exit command asks once, the close does not ask again
        for (const auto& entry : messages.entries())
            QCOMPARE(entry.text, QStringLiteral("アプリケーションを終了しますか？"));
    }

    void restoringAsksForThePassword_data()
    {
        QTest::addColumn<int>("usePassword");
        QTest::newRow("password on") << 1;
        QTest::newRow("password off") << 0;
    }
    void restoringAsksForThePassword()
    {
        QFETCH(int, usePassword);
        Frame f;
        f.setting.m_nUsePassword = usePassword;
        f.setting.m_strPassword = QStringLiteral("pw");
        f.minimizeAndRestore();
        QCOMPARE(f.frame->passwordDialog()->isVisible(), usePassword == 1);
        QCOMPARE(f.authenticated, usePassword ? 0 : 1);
        if (usePassword) {
            QVERIFY(f.frame->isMinimized());
            f.frame->passwordDialog()->edit()->setText(QStringLiteral("pw"));
            f.frame->passwordDialog()->accept();
            QCOMPARE(f.authenticated, 1);
            QVERIFY(!f.frame->isMinimized());
            QTest::qWait(100); // the right entry's restore asks nothing more
            QVERIFY(!f.frame->passwordDialog()->isVisible());
            QVERIFY(!f.frame->isMinimized());
        }
    }

    void gateHoldsWhileThePasswordIsOwed()
    {
        Frame f;
        f.setting.m_nUsePassword = 1;
        f.setting.m_strPassword = QStringLiteral("pw");
        f.minimizeAndRestore();
        QTRY_VERIFY(f.frame->passwordDialog()->isVisible());
        QVERIFY(f.frame->isMinimized());
        QCOMPARE(f.authenticated, 0);

        // Restored or activated again while the dialog is up: still minimized.
        f.frame->showNormal();
        QTest::qWait(100);
        QVERIFY(f.frame->isMinimized());
        f.frame->setWindowState(Qt::WindowMaximized);
        f.frame->activateWindow();
        QTest::qWait(100);
        QVERIFY(f.frame->isMinimized());
        QVERIFY(f.frame->passwordDialog()->isVisible());
        QCOMPARE(f.authenticated, 0);

        // Closing the window while the dialog is up: after the question, both go.
        MessageRecorder messages;
        messages.scriptAnswers({MessageAnswer::Yes});
        QVERIFY(f.frame->close());
        QCOMPARE(messages.entries().size(), 1);
        QVERIFY(!f.frame->isVisible());
        QVERIFY(!f.frame->passwordDialog()->isVisible());
    }

    void selectAllNeedsTheListsFocus()
    {
        SimulatedPlaces places;
        const QString save = places.newFolder(QStringLiteral("save"));
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
            QVERIFY(WriteFileBytes(save + QStringLiteral("/day/") + QLatin1String(name),
                                   BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
        Frame f;
        f.document.RunStartupChecks(save);
        f.frame->view()->OnInitialUpdate();
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        QTreeWidget* tree = f.frame->folderTree();
        QAction* selectAll = f.frame->command(Command::SelectAll);
        QAction* invert = f.frame->command(Command::InvertSelection);
        QVERIFY(!selectAll->isEnabled());
        QVERIFY(!invert->isEnabled()); // no rows

        tree->setCurrentItem(f.frame->view()->rootLabelled(kSaveRootLabel)->child(0));
        tree->setFocus();
        QVERIFY(invert->isEnabled());
        QVERIFY(!selectAll->isEnabled());
        // Ctrl+A in the tree does not reach the list: one row stays selected.
        QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(f.frame->view()->listPane().selectedCount(), 1);

        CMainList* list = f.frame->view()->recordingList();
        list->setFocus();
        QVERIFY(selectAll->isEnabled());
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(f.frame->view()->listPane().selectedCount(), 3);
    }

    // Delete, then Return on the question, in the window with its own control panel
    // holding the recording and a real message box: the recording goes to the trash
    // (Yes is the question's default) and the window stays.
    void deleteThenReturnOnASaveFolderRow()
    {
        SimulatedPlaces places;
        const QString save = places.newFolder(QStringLiteral("save"));
        for (const char* name : {"a.mp3", "b.mp3"})
            QVERIFY(WriteFileBytes(save + QStringLiteral("/day/") + QLatin1String(name),
                                   BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
        Frame f;
        f.setting.m_strSavePath = save;
        f.document.RunStartupChecks(save);
        f.frame->view()->OnInitialUpdate();
        f.frame->show();
        QVERIFY(QTest::qWaitForWindowActive(f.frame.get()));
        f.frame->folderTree()->setCurrentItem(f.frame->view()->rootLabelled(kSaveRootLabel)->child(0));
        CMainList* list = f.frame->view()->recordingList();
        QCOMPARE(f.frame->view()->recordings()->rowCount(), 2);
        list->setFocus();
        QVERIFY(f.frame->command(Command::DeleteFiles)->isEnabled());
        WidgetMessagePresenter boxes(f.frame.get());
        SetMessagePresenter(&boxes);
        const auto restore = qScopeGuard([] { SetMessagePresenter(nullptr); });
        QString asked;
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                answer.stop();
                asked = box->text();
                QTest::keyClick(box, Qt::Key_Return);
            }
        });
        answer.start(20);
        QTest::keyClick(list, Qt::Key_Delete);
        QVERIFY(asked.startsWith(QStringLiteral("選択中のファイルを削除してもよろしいですか？")));
        QVERIFY(!QFileInfo::exists(save + QStringLiteral("/day/a.mp3")));
        QVERIFY(QFileInfo::exists(save + QStringLiteral("/day/b.mp3")));
        QCOMPARE(f.frame->view()->recordings()->rowCount(), 1);
        QVERIFY(f.frame->isVisible());
    }

    void maximizedPlacementComesBack()
    {
        {
            Frame f;
            f.frame->setGeometry(40, 50, 900, 600);
            f.frame->showMaximized();
            QVERIFY(QTest::qWaitForWindowExposed(f.frame.get()));
        }
        QTemporaryDir runtime;
        CTALVEN77PCApp program(runtime.path());
        QVERIFY(program.InitInstance());
        QVERIFY(program.mainFrame()->isMaximized());
        QCOMPARE(program.mainFrame()->normalGeometry().size(), QSize(900, 600));
    }

    void placementIsStored()
    {
        {
            Frame f;
            f.frame->setGeometry(40, 50, 900, 600);
        }
        const QByteArray record = OpenProgramSettings()->value(QStringLiteral("Window/Main")).toByteArray();
        QCOMPARE(record.size(), 44);
        const auto value = [&](int i) { return qFromLittleEndian<qint32>(record.constData() + 4 * i); };
        QCOMPARE(value(0), 44);
        QCOMPARE(value(2), 1);
        QCOMPARE(value(9) - value(7), 900);
        QCOMPARE(value(10) - value(8), 600);
        QWidget restored;
        restored.setMinimumSize(850, 530);
        CMainFrame::RestorePlacement(&restored);
        QCOMPARE(restored.geometry().size(), QSize(900, 600));
    }

    // A placement record with coordinates no screen has (a damaged or hand-made file):
    // the window keeps its own placement, and no sum of them overflows.
    void placementBeyondAnyScreenIsNotUsed_data()
    {
        QTest::addColumn<QList<qint32>>("rectangle"); // left, top, right, bottom
        QTest::newRow("right edge at the lowest int") << QList<qint32>{0, 0, INT32_MIN, 600};
        QTest::newRow("spanning all of int") << QList<qint32>{INT32_MIN, 0, INT32_MAX, 600};
        QTest::newRow("bottom edge at the lowest int") << QList<qint32>{0, 0, 900, INT32_MIN};
        QTest::newRow("far off every screen") << QList<qint32>{50000000, 0, 50000900, 600};
    }

    void placementBeyondAnyScreenIsNotUsed()
    {
        QFETCH(QList<qint32>, rectangle);
        const qint32 values[11] = {44, 2, 3, -1, -1, -1, -1, rectangle[0], rectangle[1], rectangle[2], rectangle[3]};
        QByteArray record(44, '\0');
        for (int i = 0; i < 11; ++i)
            qToLittleEndian<qint32>(values[i], record.data() + 4 * i);
        OpenProgramSettings()->setValue(QStringLiteral("Window/Main"), record);
        QWidget restored;
        restored.setGeometry(10, 20, 300, 200);
        QVERIFY(!CMainFrame::RestorePlacement(&restored));
        QCOMPARE(restored.geometry(), QRect(10, 20, 300, 200));
    }
};

TALVEN77_REGISTER_TEST(MainFrameTest);
#include "MainFrameTest.moc"
