#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestFiles.h"
#include "TestMounts.h"
#include "TestRegistry.h"
#include "VirtualAudioOutput.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/Cp932.h"
#include "platform/ProgramIdentity.h"
#include "widgets/EditEx.h"
#include "player/IndexDlg.h"
#include "player/PanelButton.h"
#include "player/PanelDlg.h"
#include "player/SectionBar.h"
#include "player/SectionSlider.h"
#include "recording/VoiceDuration.h"
#include "settings/Setting.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/RecordingListPane.h"
#include "view/TALVEN77PCView.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <sys/file.h>

namespace {

constexpr uint32_t E = kEmptyIndexMark;

// A header whose memo field holds these bytes as they stand.
tagVoiceHeader headerWithMemoBytes(const QByteArray& memo)
{
    tagVoiceHeader header = MakeVoiceHeader(1, {}, {12});
    std::memcpy(header.memo, memo.constData(), size_t(std::min<qsizetype>(memo.size(), kMemoBytes)));
    return header;
}

QByteArray memoField(const tagVoiceHeader& header)
{
    return QByteArray(header.memo, kMemoBytes);
}

tagVoiceHeader headerOf(const QString& path)
{
    tagVoiceHeader header{};
    ReadVoiceHeader(path, header);
    return header;
}

} // namespace

class PanelTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    // A save folder "day" with three recordings of a minute (a, b, c), shown
    // in a view whose control panel plays on the virtual clock.
    struct Fixture
    {
        QString folder;
        CSetting setting;
        CTALVEN77PCDoc document;
        VirtualAudioOutput* output = nullptr;
        bool audible = true; // false: no audio output can be opened
        CPanelDlg panel{[this] {
            if (!audible)
                return std::unique_ptr<VirtualAudioOutput>();
            auto made = std::make_unique<VirtualAudioOutput>();
            output = made.get();
            return made;
        }};
        std::unique_ptr<CTALVEN77PCView> view;

        explicit Fixture(SimulatedPlaces& places, const QList<tagVoiceHeader>& headers = {}, bool withOutput = true)
            : audible(withOutput)
        {
            const QString save = places.newFolder(QStringLiteral("save"));
            folder = save + QStringLiteral("/day/");
            QDir().mkpath(folder);
            const QStringList names{"a.mp3", "b.mp3", "c.mp3"};
            for (int i = 0; i < names.size(); ++i) {
                const tagVoiceHeader header = i < headers.size() ? headers[i] : MakeVoiceHeader(0);
                if (!WriteFileBytes(folder + names[i], BuildRecording(header, MinuteOfRecorderAudio())))
                    qFatal("cannot write a recording");
            }
            setting.Load();
            document.RunStartupChecks(save);
            view = std::make_unique<CTALVEN77PCView>(document, setting);
            view->setPanel(&panel);
            view->OnInitialUpdate();
            view->folderTree()->setCurrentItem(view->rootLabelled(kSaveRootLabel)->child(0));
        }
        ~Fixture() { view->setPanel(nullptr); }

        CMp3Ctrl& engine() { return panel.session().engine(); }
        RecordingListModel* model() { return view->recordings(); }
        // As a plain click would, whatever modifier an earlier click left the application holding.
        void select(int row)
        {
            view->recordingList()->selectionModel()->setCurrentIndex(
                model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
        int focusedRow() { return view->recordingList()->currentIndex().row(); }
        // Plays on for this long, delivering notices and timer ticks as the window would.
        void play(double seconds)
        {
            for (double done = 0; done < seconds; done += 0.25) {
                if (output)
                    output->advance(0.25);
                QCoreApplication::processEvents();
                panel.session().OnTimer();
            }
        }
        void seek(uint32_t second)
        {
            engine().SetPosition(second);
            panel.session().OnTimer();
        }
        tagVoiceHeader rowHeader(int row) { return model()->recordAt(row).header; }
    };

private Q_SLOTS:
    void init()
    {
        g_bNoAudioOutput = false;
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void loadingShowsTheRecording()
    {
        Fixture f(m_places, {MakeVoiceHeader(2, QStringLiteral("  会議メモ  "), {10, 40})});
        QCOMPARE(f.panel.session().selectedCount(), 1);
        QCOMPARE(f.panel.session().rowNumber(), 1);
        QCOMPARE(f.panel.session().duration(), 60u);
        QCOMPARE(f.panel.session().end(), 60u);
        QCOMPARE(f.panel.memoEdit()->text(), QStringLiteral("会議メモ"));
        QCOMPARE(f.panel.positionSlider()->maximum(), 60);
        QCOMPARE(f.panel.sectionBar()->beginLabel()->text(), QStringLiteral(" 0:00"));
        QCOMPARE(f.panel.sectionBar()->endLabel()->text(), QStringLiteral(" 1:00"));
        QCOMPARE(f.panel.sectionBar()->pixelsPerSecond(), f.panel.sectionBar()->barRect().width() / 60.0);
        // The end marker starts at the bar's right end, the begin marker ends at its left.
        QCOMPARE(f.panel.sectionBar()->endMarker()->x(), f.panel.sectionBar()->barRect().left() + f.panel.sectionBar()->barRect().width());
        QCOMPARE(f.panel.sectionBar()->beginMarker()->geometry().right() + 1, f.panel.sectionBar()->barRect().left());
        QVERIFY(f.panel.button(CPanelDlg::IdPlay)->isEnabled());
        QVERIFY(!f.panel.button(CPanelDlg::IdPause)->isEnabled());
        QVERIFY(f.panel.memoEdit()->isEnabled());
        QCOMPARE(f.panel.sectionBar()->barPictures().flags.size(), 2);
        QVERIFY(f.panel.UnloadRecording(0));
        QVERIFY(!f.panel.button(CPanelDlg::IdPlay)->isEnabled());
        QCOMPARE(f.panel.sectionBar()->beginLabel()->text(), QStringLiteral("開始"));
        QVERIFY(f.panel.memoEdit()->text().isEmpty());
    }

    // Before anything is loaded, and after a recording was let go, the markers
    // stand at the bar's two ends and their words side by side.
    void theMarkersStandApartWithoutARecording_data()
    {
        QTest::addColumn<bool>("neverLoaded");
        QTest::newRow("nothing loaded yet") << true;
        QTest::newRow("a recording let go") << false;
    }

    void theMarkersStandApartWithoutARecording()
    {
        QFETCH(bool, neverLoaded);
        std::unique_ptr<CPanelDlg> fresh;
        std::unique_ptr<Fixture> f;
        CPanelDlg* panel = nullptr;
        if (neverLoaded) {
            fresh = std::make_unique<CPanelDlg>([] { return std::make_unique<VirtualAudioOutput>(); });
            panel = fresh.get();
        } else {
            f = std::make_unique<Fixture>(m_places);
            panel = &f->panel;
            QVERIFY(panel->UnloadRecording(0));
        }
        const QRect bar = panel->sectionBar()->barRect();
        QCOMPARE(panel->sectionBar()->beginMarker()->geometry().right() + 1, bar.left());
        QCOMPARE(panel->sectionBar()->endMarker()->x(), bar.left() + bar.width());
        QCOMPARE(panel->sectionBar()->beginLabel()->text(), QStringLiteral("開始"));
        QCOMPARE(panel->sectionBar()->endLabel()->text(), QStringLiteral("終了"));
        QVERIFY2(!panel->sectionBar()->beginLabel()->geometry().intersects(panel->sectionBar()->endLabel()->geometry()),
                 qPrintable(QStringLiteral("%1 / %2").arg(panel->sectionBar()->beginLabel()->x()).arg(panel->sectionBar()->endLabel()->x())));
    }

    // After a stop the thumb stands where the next PLAY starts: the section's begin.
    void theThumbGoesWhereTheNextPlayStarts_data()
    {
        QTest::addColumn<uint32_t>("begin");
        QTest::newRow("the whole recording") << 0u;
        QTest::newRow("a section from 20 s") << 20u;
    }

    void theThumbGoesWhereTheNextPlayStarts()
    {
        QFETCH(uint32_t, begin);
        Fixture f(m_places);
        f.panel.session().setSection(begin, 60);
        f.panel.OnPlay();
        f.play(10);
        QCOMPARE(f.panel.positionSlider()->value(), int(begin) + 10);
        f.panel.session().OnStop();
        QCOMPARE(f.panel.positionSlider()->value(), int(begin));
        QCOMPARE(f.panel.session().position(), begin);
        f.panel.OnPlay();
        QCOMPARE(uint32_t(f.engine().GetPosition()), begin);
    }

    // The play mode and speed lists and the index button drive the session.
    void theControlsDriveTheSession()
    {
        Fixture f(m_places);
        for (int mode : {2, 1, 0}) {
            f.panel.playModeList()->setCurrentIndex(mode);
            QCOMPARE(f.panel.session().playMode(), mode);
        }
        f.panel.speedList()->setCurrentIndex(CMp3Ctrl::Slow);
        QCOMPARE(f.engine().m_speed, int(CMp3Ctrl::Slow));
        // Playing, the index button marks the second heard; no dialog opens.
        bool dialogOpened = false;
        f.panel.setIndexDialogRunner([&](CIndexDlg&) {
            dialogOpened = true;
            return int(QDialog::Rejected);
        });
        f.panel.OnPlay();
        f.seek(25);
        f.panel.pushButton(CPanelDlg::IdIndex)->click();
        QVERIFY(!dialogOpened);
        QCOMPARE(GetIndexMarks(f.panel.session().header()), (IndexMarks{25, E, E, E, E}));
        QCOMPARE(GetIndexMarks(f.rowHeader(0)), (IndexMarks{25, E, E, E, E}));
    }

    void playingMarksThePlayedFlagAndLeavingWritesIt()
    {
        Fixture f(m_places);
        QCOMPARE(headerOf(f.folder + "a.mp3").playedFlag, 0);
        const QDateTime written = QFileInfo(f.folder + "a.mp3").lastModified();
        f.panel.OnPlay();
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(f.rowHeader(0).playedFlag, 2); // the list shows it at once
        QVERIFY(!f.panel.button(CPanelDlg::IdPlay)->isEnabled());
        QVERIFY(f.panel.button(CPanelDlg::IdStop)->isEnabled());
        QCOMPARE(headerOf(f.folder + "a.mp3").playedFlag, 0); // the file when the panel leaves it
        f.select(1);
        QCOMPARE(headerOf(f.folder + "a.mp3").playedFlag, 2);
        QCOMPARE(QFileInfo(f.folder + "a.mp3").lastModified(), written);
        QCOMPARE(f.panel.session().rowNumber(), 2);
    }

    void indexDialogWhileStopped_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("OK") << true;
        QTest::newRow("cancel") << false;
    }

    void indexDialogWhileStopped()
    {
        QFETCH(bool, confirmed);
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {40, 10})});
        f.panel.setIndexDialogRunner([&](CIndexDlg& dialog) {
            [&] {
                QCOMPARE(dialog.m_nDuration, 60u);
                QCOMPARE(dialog.m_marks, (IndexMarks{40, 10, E, E, E}));
            }();
            dialog.m_marks = {5, 50, E, E, E};
            return confirmed ? int(QDialog::Accepted) : int(QDialog::Rejected);
        });
        f.panel.OnIndex();
        const IndexMarks expected = confirmed ? IndexMarks{5, 50, E, E, E} : IndexMarks{40, 10, E, E, E};
        QCOMPARE(GetIndexMarks(f.panel.session().header()), expected);
        QCOMPARE(GetIndexMarks(f.rowHeader(0)), expected);
        QCOMPARE(f.panel.session().headerDirty(), confirmed);
    }

    void sectionMarkersAreDraggedWhileStopped()
    {
        Fixture f(m_places);
        MessageRecorder messages;
        CPanelDlg& panel = f.panel;
        SectionBar* barWidget = panel.sectionBar();
        const QRect bar = barWidget->barRect();
        const QPoint farRight(bar.right() + 40, bar.top());
        const QPoint farLeft(bar.left() - 40, bar.top());

        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->beginMarker()->geometry().center());
        QTest::mouseMove(barWidget, QPoint(bar.left() + int(barWidget->pixelsPerSecond() * 30), bar.top()));
        QCOMPARE(panel.session().begin(), 30u);
        QCOMPARE(barWidget->beginLabel()->text(), QStringLiteral(" 0:30"));
        QTest::mouseMove(barWidget, QPoint(bar.left() + int(barWidget->pixelsPerSecond() * 59), bar.top()));
        QTest::mouseMove(barWidget, QPoint(bar.right(), bar.top())); // the end point itself is not taken
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, farRight);
        QCOMPARE(panel.session().begin(), 59u); // at most one before the end
        QCOMPARE(f.engine().m_begin, 59u);

        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->endMarker()->geometry().center());
        QTest::mouseMove(barWidget, farLeft);
        QTest::mouseMove(barWidget, QPoint(bar.left(), bar.top()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, farLeft);
        QCOMPARE(panel.session().end(), 60u); // nothing at or before the begin point
        QCOMPARE(panel.positionSlider()->sectionBegin(), 59);
        QVERIFY(messages.entries().isEmpty());

        // Not while playing.
        panel.OnPlay();
        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->endMarker()->geometry().center());
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, barWidget->endMarker()->geometry().center());
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("停止中以外は操作できません。"));
        QCOMPARE(messages.entries()[0].icon, MessageIcon::Information);
    }

    void flagsAreDraggedAndDroppedAtZeroToDelete()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {20})});
        CPanelDlg& panel = f.panel;
        SectionBar* barWidget = panel.sectionBar();
        const QRect bar = barWidget->barRect();
        const auto xOf = [&](uint32_t second) { return bar.left() + int(barWidget->pixelsPerSecond() * second); };
        const int y = barWidget->flagHome().center().y();

        // A new flag from its home.
        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->flagHome().center());
        QVERIFY(barWidget->draggedMark() >= 0);
        QCOMPARE(barWidget->draggedMark(), 1);
        QTest::mouseMove(barWidget, QPoint(xOf(45), y));
        QCOMPARE(barWidget->barPictures().home, BarPictures::Cross);
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(xOf(45), y));
        QCOMPARE(GetIndexMarks(panel.session().header()), (IndexMarks{20, 45, E, E, E}));
        QCOMPARE(GetIndexMarks(f.rowHeader(0)), (IndexMarks{20, 45, E, E, E}));

        // The first flag moved to the far left is deleted.
        QTest::mousePress(barWidget, Qt::LeftButton, {}, QPoint(xOf(20) + 2, y));
        QCOMPARE(barWidget->draggedMark(), 0);
        QTest::mouseMove(barWidget, QPoint(bar.left(), y));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(bar.left(), y));
        QCOMPARE(GetIndexMarks(panel.session().header()), (IndexMarks{45, E, E, E, E}));
        QVERIFY(panel.UnloadRecording(0));
        QCOMPARE(GetIndexMarks(headerOf(f.folder + "a.mp3")), (IndexMarks{45, E, E, E, E}));
    }

    // A quick drag leaves the bar between two moves: past either end the marker
    // or flag goes to that end, not to where the last move inside left it.
    void draggedPastTheEndsReachesThem()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {20})});
        CPanelDlg& panel = f.panel;
        SectionBar* barWidget = panel.sectionBar();
        const QRect bar = barWidget->barRect();
        const auto xOf = [&](uint32_t second) { return bar.left() + int(barWidget->pixelsPerSecond() * second); };
        const int farLeft = bar.left() - 60, farRight = bar.right() + 60;

        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->endMarker()->geometry().center());
        QTest::mouseMove(barWidget, QPoint(xOf(40), bar.top()));
        QCOMPARE(panel.session().end(), 40u);
        QTest::mouseMove(barWidget, QPoint(farRight, bar.top()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(farRight, bar.top()));
        QCOMPARE(panel.session().end(), 60u);

        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->beginMarker()->geometry().center());
        QTest::mouseMove(barWidget, QPoint(xOf(30), bar.top()));
        QCOMPARE(panel.session().begin(), 30u);
        QTest::mouseMove(barWidget, QPoint(farLeft, bar.top()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(farLeft, bar.top()));
        QCOMPARE(panel.session().begin(), 0u);
        QCOMPARE(f.engine().m_begin, 0u);

        // Past the other marker, a second short of it.
        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->endMarker()->geometry().center());
        QTest::mouseMove(barWidget, QPoint(xOf(10), bar.top()));
        QTest::mouseMove(barWidget, QPoint(farLeft, bar.top()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(farLeft, bar.top()));
        QCOMPARE(panel.session().end(), 1u);
        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->endMarker()->geometry().center());
        QTest::mouseMove(barWidget, QPoint(farRight, bar.top()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(farRight, bar.top()));
        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->beginMarker()->geometry().center());
        QTest::mouseMove(barWidget, QPoint(xOf(10), bar.top()));
        QTest::mouseMove(barWidget, QPoint(farRight, bar.top()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(farRight, bar.top()));
        QCOMPARE(panel.session().begin(), 59u);
        QCOMPARE(f.engine().m_begin, 59u);
        QCOMPARE(f.engine().m_end, 60u);

        const int y = barWidget->flagHome().center().y();
        QTest::mousePress(barWidget, Qt::LeftButton, {}, QPoint(xOf(20) + 2, y));
        QCOMPARE(barWidget->draggedMark(), 0);
        QTest::mouseMove(barWidget, QPoint(xOf(35), y));
        QTest::mouseMove(barWidget, QPoint(farRight, y));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(farRight, y));
        QCOMPARE(GetIndexMarks(panel.session().header()), (IndexMarks{60, E, E, E, E}));
    }

    void aNewFlagFillsTheFirstEmptySlot()
    {
        // As the recorder may leave them: an empty slot before a set one.
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {10, E, 30})});
        CPanelDlg& panel = f.panel;
        SectionBar* barWidget = panel.sectionBar();
        QTest::mousePress(barWidget, Qt::LeftButton, {}, barWidget->flagHome().center());
        QCOMPARE(barWidget->draggedMark(), 1);
        const int x = barWidget->barRect().left() + int(barWidget->pixelsPerSecond() * 50);
        QTest::mouseMove(barWidget, QPoint(x, barWidget->flagHome().center().y()));
        QTest::mouseRelease(barWidget, Qt::LeftButton, {}, QPoint(x, barWidget->flagHome().center().y()));
        QCOMPARE(GetIndexMarks(panel.session().header()), (IndexMarks{10, 30, 50, E, E}));
    }

    void theSliderNeverSeeksToTheEndPoint()
    {
        Fixture f(m_places);
        SectionSlider* slider = f.panel.positionSlider();
        slider->setSliderDown(true);
        slider->setSliderPosition(slider->maximum());
        QVERIFY(f.panel.session().seeking());
        QVERIFY(f.panel.displayItems().size() > 0);
        slider->setSliderDown(false); // the end of tracking
        QVERIFY(!f.panel.session().seeking());
        QCOMPARE(uint32_t(f.engine().GetPosition()), 59u);
        // A stopped recording moved by the slider waits paused at the new place.
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Paused);
        QCOMPARE(slider->value(), 59);

        // Playing, a step keeps it playing from the new place.
        f.panel.session().OnStop();
        f.panel.OnPlay();
        f.panel.session().OnTimer();
        slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(uint32_t(f.engine().GetPosition()), 10u);
        QVERIFY(!f.panel.session().seeking());
    }

    void theMemoKeepsTo256Bytes()
    {
        Fixture f(m_places);
        CEditEx* memo = f.panel.memoEdit();
        f.view->show();
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        memo->setFocus();

        // 128 double-byte characters fill it; one more does not go in.
        memo->setText(QString(128, QChar(0x3042)));
        memo->moveCursor(QTextCursor::End);
        QInputMethodEvent typed;
        typed.setCommitString(QStringLiteral("\u3044"));
        QApplication::sendEvent(memo, &typed);
        QCOMPARE(memo->text(), QString(128, QChar(0x3042)));

        // A paste in the middle keeps what fits of its beginning.
        memo->setText(QString(120, QChar(0x3042)));
        QTextCursor cursor = memo->textCursor();
        cursor.setPosition(60);
        memo->setTextCursor(cursor);
        QApplication::clipboard()->setText(QString(10, QChar(0x3044)));
        memo->paste();
        const QString expected = QString(60, QChar(0x3042)) + QString(8, QChar(0x3044)) + QString(60, QChar(0x3042));
        QCOMPARE(memo->text(), expected);
        QCOMPARE(memo->textCursor().position(), 68);
        QCOMPARE(Cp932ToUnicode(QByteArray(f.panel.session().header().memo, kMemoBytes)), expected);
        QCOMPARE(f.model()->recordAt(0).header.memo[255], f.panel.session().header().memo[255]);
        QVERIFY(f.panel.session().headerDirty());
        QVERIFY(f.panel.UnloadRecording(0));
        QCOMPARE(VoiceMemoText(headerOf(f.folder + "a.mp3")), expected);
    }

    void aMemoCommittedOnLeavingIsWritten()
    {
        Fixture f(m_places);
        // Text set without a change notice still reaches the file when the panel leaves.
        f.panel.memoEdit()->setText(QStringLiteral(" 打ち合わせ \n"));
        f.select(1);
        QCOMPARE(VoiceMemoText(headerOf(f.folder + "a.mp3")), QStringLiteral("打ち合わせ"));
        QCOMPARE(VoiceMemoText(f.rowHeader(0)), QStringLiteral("打ち合わせ"));
    }

    void twoRowsThenOneAgain()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, QStringLiteral("memo"))});
        QItemSelectionModel* selection = f.view->recordingList()->selectionModel();
        selection->select(f.model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(f.panel.session().selectedCount(), 2);
        QVERIFY(f.panel.memoEdit()->text().isEmpty());
        QVERIFY(f.panel.session().path().isEmpty());
        QVERIFY(!f.panel.button(CPanelDlg::IdPlay)->isEnabled());
        QCOMPARE(f.panel.displayItems().first().text, QStringLiteral("   2 件"));
        QCOMPARE(f.panel.sectionBar()->barPictures().home, BarPictures::PlainFlag);
        f.select(0);
        QCOMPARE(f.panel.session().selectedCount(), 1);
        QCOMPARE(f.panel.memoEdit()->text(), QStringLiteral("memo"));
        QVERIFY(f.panel.button(CPanelDlg::IdPlay)->isEnabled());
    }

    // What the window holds where the flags are drawn, beside what a full
    // repaint of the panel's present state draws there.
    void ctrlClickOntoASecondRowClearsTheFlags()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {10, 40})});
        CPanelDlg& panel = f.panel;
        SectionBar* barWidget = panel.sectionBar();
        f.view->resize(900, 500);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.view.get()));
        const QRect flags(QPoint(barWidget->barRect().left(), barWidget->flagHome().top()),
                          QPoint(barWidget->barRect().right() + barWidget->flagHome().width(), barWidget->flagHome().bottom()));
        const auto onScreen = [&](const QRect& area) {
            QWidget* window = panel.window();
            const QPoint at = barWidget->mapTo(window, area.topLeft());
            return window->screen()
                ->grabWindow(window->winId(), at.x(), at.y(), area.width(), area.height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        const QImage loaded = onScreen(flags);
        QCOMPARE(barWidget->barPictures().home, BarPictures::NextFlag);

        CMainList* list = f.view->recordingList();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list->visualRect(f.model()->index(1, 0)).center());
        QCOMPARE(f.panel.session().selectedCount(), 2);
        QCOMPARE(panel.displayItems().first().text, QStringLiteral("   2 件"));
        const QImage shown = onScreen(flags);
        const QImage home = onScreen(barWidget->flagHome());
        panel.repaint();
        QCOMPARE(onScreen(barWidget->flagHome()), home);
        QCOMPARE(onScreen(flags), shown);
        QVERIFY(shown != loaded); // the flags of the recording are gone
        // Ctrl goes up again, as the user's finger does.
        QTest::keyRelease(list, Qt::Key_Control);
    }

    void aFailedReReadLeavesTheRowAsItWas()
    {
        Fixture f(m_places, {MakeVoiceHeader(2, QStringLiteral("残す"), {10, 20})});
        MessageRecorder messages;
        f.panel.session().OnProtect();
        // The file vanished: the write fails, and so does the read that follows it.
        QVERIFY(QFile::remove(f.folder + "a.mp3"));
        QVERIFY(!f.panel.UnloadRecording(0));
        QCOMPARE(messages.entries().size(), 1);
        const CFileList* list = f.document.pCurrent();
        const tagFileList* cached = nullptr;
        for (int i = 0; i < list->GetRecordCount() && !cached; ++i) {
            if (list->RecordAt(i)->szFilePath == f.folder + "a.mp3")
                cached = list->RecordAt(i);
        }
        QVERIFY(cached);
        for (const tagVoiceHeader& shown : {f.rowHeader(0), cached->header}) {
            QCOMPARE(shown.mode, 2);
            QCOMPARE(shown.protectFlag, 1);
            QCOMPARE(GetIndexMarks(shown), (IndexMarks{10, 20, E, E, E}));
            QCOMPARE(VoiceMemoText(shown), QStringLiteral("残す"));
        }
    }

    void viewingARecordingWritesNothing_data()
    {
        QTest::addColumn<QByteArray>("memo"); // the memo field's bytes as the recorder left them
        QTest::newRow("lines broken by CR LF") << UnicodeToCp932(QStringLiteral("一行目\r\n二行目\r\n")).bytes;
        QTest::newRow("lines broken by LF") << QByteArray("first\nsecond");
        QTest::newRow("blanks and bytes after the terminator") << QByteArray("memo \r\n \0left over", 19);
        QTest::newRow("a character cut at the last byte") << QByteArray(255, 'm') + '\x82';
    }
    void viewingARecordingWritesNothing()
    {
        QFETCH(QByteArray, memo);
        const tagVoiceHeader header = headerWithMemoBytes(memo);
        Fixture f(m_places, {header, header});
        MessageRecorder messages;
        const QString a = f.folder + "a.mp3";
        // Times of long ago, which a read would move on a file system that updates access times.
        {
            QFile file(a);
            const QDateTime longAgo(QDate(2013, 4, 15), QTime(10, 0));
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(longAgo, QFileDevice::FileAccessTime));
            QVERIFY(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
        }
        const FileSnapshot before = SnapshotFile(a);
        // Loaded by the fixture; left, loaded and left again.
        f.select(1);
        f.select(0);
        QVERIFY(f.panel.UnloadRecording(0));
        QVERIFY(SnapshotFile(a) == before);
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(memoField(f.rowHeader(0)), memoField(header));
    }

    void anEditedMemoBreaksItsLinesWithCrLf()
    {
        Fixture f(m_places, {headerWithMemoBytes(UnicodeToCp932(QStringLiteral("一行目\r\n二行目")).bytes)});
        CEditEx* memo = f.panel.memoEdit();
        QCOMPARE(memo->text(), QStringLiteral("一行目\n二行目"));
        memo->setText(memo->text() + QStringLiteral("\n三行目"));
        f.select(1);
        const QByteArray stored = UnicodeToCp932(QStringLiteral("一行目\r\n二行目\r\n三行目")).bytes;
        const QByteArray field = stored + QByteArray(kMemoBytes - stored.size(), '\0');
        QCOMPARE(memoField(headerOf(f.folder + "a.mp3")), field);
        QCOMPARE(memoField(f.rowHeader(0)), field);
    }

    void aMemoWithLineBreaksKeepsTo256StoredBytes()
    {
        Fixture f(m_places);
        CEditEx* memo = f.panel.memoEdit();
        f.view->show();
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        memo->setFocus();
        // 254 bytes and a line break, stored as CR LF, fill the field.
        memo->setText(QString(254, u'a'));
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, QStringLiteral("b"));
        QCOMPARE(memo->text(), QString(254, u'a') + u'\n');
        // A pasted line break that would pass the limit is left out.
        memo->setText(QString(255, u'a'));
        memo->moveCursor(QTextCursor::End);
        QApplication::clipboard()->setText(QStringLiteral("\n"));
        memo->paste();
        QCOMPARE(memo->text(), QString(255, u'a'));
        memo->setText(QString(200, u'a'));
        memo->moveCursor(QTextCursor::End);
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, QStringLiteral("b"));
        f.select(1);
        const QByteArray stored = QByteArray(200, 'a') + "\r\nb";
        QCOMPARE(memoField(headerOf(f.folder + "a.mp3")), stored + QByteArray(kMemoBytes - stored.size(), '\0'));
    }

    void oneRowSelectedWithoutARecordingIsNothingToEdit()
    {
        Fixture f(m_places);
        f.panel.UnloadRecording(1); // the focus went to another row, the selection stayed
        QVERIFY(!f.panel.pushButton(CPanelDlg::IdProtect)->isEnabled());
        QVERIFY(!f.panel.memoEdit()->isEnabled());
        QVERIFY(!f.panel.button(CPanelDlg::IdSkipForward)->isEnabled());
        QVERIFY(f.panel.displayItems().isEmpty());
    }

    void invertingOntoOneRowLoadsItWithItsControls()
    {
        Fixture f(m_places);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        f.view->recordingList()->setFocus();
        QItemSelectionModel* selection = f.view->recordingList()->selectionModel();
        selection->select(f.model()->index(1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(f.panel.session().selectedCount(), 2);
        f.view->listPane().InvertSelection();
        QCOMPARE(f.panel.session().selectedCount(), 1);
        QCOMPARE(QFileInfo(f.panel.session().path()).fileName(), QStringLiteral("c.mp3"));
        QVERIFY(f.panel.pushButton(CPanelDlg::IdProtect)->isEnabled());
        QVERIFY(f.panel.button(CPanelDlg::IdPlay)->isEnabled());
    }

    void theKeyboardFocusStaysOnTheTransport()
    {
        Fixture f(m_places);
        f.view->show();
        QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        PanelButton* play = f.panel.button(CPanelDlg::IdPlay);
        play->setFocus();
        QTest::keyClick(play, Qt::Key_Space);
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(QApplication::focusWidget(), f.panel.button(CPanelDlg::IdPause));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Paused);
        QCOMPARE(QApplication::focusWidget(), play);
        QCOMPARE(f.panel.session().header().protectFlag, 0);

        // A skip to the next recording unloads, then loads: the focus comes back to the button.
        PanelButton* next = f.panel.button(CPanelDlg::IdSkipForward);
        f.panel.session().OnStop();
        next->setFocus();
        QTest::keyClick(next, Qt::Key_Space);
        QCOMPARE(f.focusedRow(), 1);
        QCOMPARE(QApplication::focusWidget(), next);
    }

    void aFileThatCannotBeOpenedIsNotPlayed()
    {
        Fixture f(m_places);
        MessageRecorder messages;
        QVERIFY(WriteFileBytes(f.folder + "broken.mp3", BuildRecording(MakeVoiceHeader(0), QByteArray(4000, 'x'))));
        f.panel.LoadRecording(f.folder + "broken.mp3", 4);
        QCOMPARE(messages.entries().size(), 1); // the engine says why
        QVERIFY(!f.panel.button(CPanelDlg::IdPlay)->isEnabled());
        f.panel.OnPlay(); // the list's command
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Stopped);
        QCOMPARE(f.panel.session().header().playedFlag, 0);
        QVERIFY(!f.panel.session().headerDirty());
    }

    // Without an audio output each recording still shows its own length, read from
    // the file, and nothing is said until PLAY is pressed.
    void withoutAnAudioOutputTheLengthIsTheFiles()
    {
        MessageRecorder messages;
        Fixture f(m_places, {}, false);
        QVERIFY(g_bNoAudioOutput);
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(f.panel.session().duration(), 60u);
        QCOMPARE(f.panel.sectionBar()->endLabel()->text(), QStringLiteral(" 1:00"));
        QVERIFY(WriteFileBytes(f.folder + "short.mp3", BuildRecording(MakeVoiceHeader(0), ShortSpeechAudio())));
        f.panel.LoadRecording(f.folder + "short.mp3", 4);
        QCOMPARE(f.panel.session().duration(), 2u);
        QCOMPARE(f.panel.positionSlider()->maximum(), 2);
        QVERIFY(messages.entries().isEmpty());
        f.panel.OnPlay();
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("音声出力先が存在しないため再生できません。環境を確認してください。"));
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Stopped);
        g_bNoAudioOutput = false;
    }

    void aRecordingOfNoLengthDividesByNothing()
    {
        Fixture f(m_places);
        QVERIFY(WriteFileBytes(f.folder + "empty.mp3", BuildRecording(MakeVoiceHeader(0), {})));
        f.panel.LoadRecording(f.folder + "empty.mp3", 4);
        QCOMPARE(f.panel.session().duration(), 0u);
        QCOMPARE(f.panel.sectionBar()->pixelsPerSecond(), double(f.panel.sectionBar()->barRect().width()));
        QTest::mousePress(f.panel.sectionBar(), Qt::LeftButton, {}, f.panel.sectionBar()->endMarker()->geometry().center());
        QTest::mouseMove(f.panel.sectionBar(), f.panel.sectionBar()->barRect().center());
        QTest::mouseRelease(f.panel.sectionBar(), Qt::LeftButton, {}, f.panel.sectionBar()->barRect().center());
        QCOMPARE(f.panel.session().end(), 0u);
        f.panel.positionSlider()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(uint32_t(f.engine().GetPosition()), 0u);
    }
};

TALVEN77_REGISTER_TEST(PanelTest);

#include "PanelTest.moc"
