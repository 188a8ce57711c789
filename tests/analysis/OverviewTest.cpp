#include "AnalysisFixtures.h"
#include "SimulatedPlaces.h"
#include "TestRegistry.h"
#include "VirtualAudioOutput.h"
#include "player/OverviewStrip.h"
#include "analysis/RecordingAnalysis.h"
#include "analysis/SilenceSettingsDlg.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/ProgramIdentity.h"
#include "player/PanelDlg.h"
#include "player/SectionSlider.h"
#include "settings/Setting.h"
#include "view/CommandSet.h"
#include "view/TALVEN77PCView.h"

#include <QAction>
#include <QDoubleSpinBox>

#include <QCheckBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

using State = CMp3Ctrl::PlayerState;
// Everything is heard 138 ms after its place in the encoded signal (see SilencesTest).
constexpr int64_t kDelay = 138;

// Waits until the envelope of the recording loaded in the session is complete.
void waitForEnvelope(PlaybackSession& session)
{
    if (!session.analysis().isComplete()) {
        QSignalSpy completed(&session.analysis(), &RecordingAnalysis::completed);
        completed.wait(60000);
    }
}

// Plays on the virtual clock in small steps, with the session's tick after each; gives
// the millisecond heard after each step.
QList<int64_t> playOn(PlaybackSession& session, VirtualAudioOutput& output, double seconds, double step)
{
    QList<int64_t> heard;
    for (double done = 0; done < seconds; done += step) {
        output.advance(step);
        QCoreApplication::processEvents();
        session.OnTimer();
        heard << int64_t(session.engine().GetPositionMilliseconds());
    }
    return heard;
}

// A playback session on the virtual clock, with one recording loaded and its envelope complete.
struct SessionFixture
{
    VirtualAudioOutput* output = nullptr;
    PlaybackSession session{[this] {
        auto made = std::make_unique<VirtualAudioOutput>();
        output = made.get();
        return made;
    }};

    explicit SessionFixture(const QString& path)
    {
        session.setControlsAllowed(true);
        session.LoadRecording(path, 1);
        waitForEnvelope(session);
    }
    CMp3Ctrl& engine() { return session.engine(); }
    QList<int64_t> play(double seconds, double step = 0.05) { return playOn(session, *output, seconds, step); }
};

// A control panel on the virtual clock, with one recording loaded and its envelope complete.
struct PanelFixture
{
    VirtualAudioOutput* output = nullptr;
    CPanelDlg panel{[this] {
        auto made = std::make_unique<VirtualAudioOutput>();
        output = made.get();
        return made;
    }};

    explicit PanelFixture(const QString& path)
    {
        panel.setControlsAllowed(true);
        panel.LoadRecording(path, 1);
        waitForEnvelope(panel.session());
    }
    CMp3Ctrl& engine() { return panel.session().engine(); }
    QList<int64_t> play(double seconds, double step = 0.05) { return playOn(panel.session(), *output, seconds, step); }
    void clickStrip(uint32_t second)
    {
        OverviewStrip* strip = panel.overviewStrip();
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(strip->xOf(int64_t(second) * 1000), strip->height() / 2));
    }
};

} // namespace

class OverviewTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;
    SimulatedPlaces m_places;
    QString m_minute;
    QString m_pauses;

private Q_SLOTS:
    void initTestCase()
    {
        m_minute = m_folder.filePath(QStringLiteral("MINUTE.MP3"));
        QVERIFY(WriteSpansRecording(m_minute, {{Signal::Speech, 20}, {Signal::Silence, 10}, {Signal::Speech, 30}}));
        // Pauses at 2-6 s and 8-12 s (a mark at 9 s inside the second), and one at the end.
        m_pauses = m_folder.filePath(QStringLiteral("PAUSES.MP3"));
        QVERIFY(WriteSpansRecording(m_pauses,
                                    {{Signal::Speech, 2}, {Signal::Silence, 4}, {Signal::Speech, 2}, {Signal::Silence, 4},
                                     {Signal::Speech, 2}, {Signal::Silence, 3}},
                                    5, {9}));
    }

    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    void stripSeeksAsTheSlider_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("expectedSecond");
        QTest::addColumn<int>("expectedState");
        QTest::newRow("stopped: paused there") << int(State::Stopped) << 20 << 20 << int(State::Paused);
        QTest::newRow("stopped, at the begin: stays stopped") << int(State::Stopped) << 0 << 0 << int(State::Stopped);
        QTest::newRow("paused") << int(State::Paused) << 30 << 30 << int(State::Paused);
        QTest::newRow("playing goes on from there") << int(State::Playing) << 40 << 40 << int(State::Playing);
        QTest::newRow("never the end point") << int(State::Playing) << 60 << 59 << int(State::Playing);
    }

    void stripSeeksAsTheSlider()
    {
        QFETCH(int, before);
        QFETCH(int, second);
        QFETCH(int, expectedSecond);
        QFETCH(int, expectedState);
        PanelFixture f(m_minute);
        QCOMPARE(f.panel.session().duration(), 60u);
        if (before != State::Stopped) {
            f.panel.OnPlay();
            f.play(1.0, 0.25);
            if (before == State::Paused)
                f.panel.session().OnPause();
        }
        f.clickStrip(uint32_t(second));
        QCOMPARE(int(f.engine().m_state), expectedState);
        QCOMPARE(f.engine().GetPosition(), uint64_t(expectedSecond));
        QCOMPARE(f.panel.positionSlider()->value(), expectedSecond);
        QVERIFY(!f.panel.session().seeking());
    }

    void draggingTheStripSeeksOnRelease()
    {
        PanelFixture f(m_minute);
        f.panel.OnPlay();
        f.play(1.0, 0.25);
        OverviewStrip* strip = f.panel.overviewStrip();
        const int y = strip->height() / 2;
        QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(strip->xOf(10'000), y));
        QMouseEvent move(QEvent::MouseMove, QPointF(strip->xOf(30'000), y), strip->mapToGlobal(QPointF(strip->xOf(30'000), y)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(strip, &move);
        // Held: paused where the pointer is, as with the slider's thumb.
        QCOMPARE(f.engine().m_state, State::Paused);
        QCOMPARE(f.engine().GetPosition(), 30u);
        QVERIFY(f.panel.session().seeking());
        QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(strip->xOf(45'000), y));
        QCOMPARE(f.engine().m_state, State::Playing);
        QCOMPARE(f.engine().GetPosition(), 45u);
        QVERIFY(!f.panel.session().seeking());
    }

    void stripIgnoresClicksWithoutControls()
    {
        PanelFixture f(m_minute);
        f.panel.setControlsAllowed(false);
        f.clickStrip(20);
        QCOMPARE(f.engine().m_state, State::Stopped);
        QCOMPARE(f.engine().GetPosition(), 0u);
    }

    void skipSilenceWhilePlaying_data()
    {
        QTest::addColumn<bool>("skip");
        QTest::newRow("skipping") << true;
        QTest::newRow("not skipping") << false;
    }

    void skipSilenceWhilePlaying()
    {
        QFETCH(bool, skip);
        SessionFixture f(m_pauses);
        QCOMPARE(f.session.silences().size(), size_t(3));
        f.session.setSkipSilence(skip);
        f.session.OnPlay();
        const QList<int64_t> heard = f.play(18.0);
        const auto heardWithin = [&](int64_t from, int64_t to) {
            return std::count_if(heard.begin(), heard.end(), [&](int64_t at) { return at >= from && at < to; });
        };
        // Playing reached the end either way.
        QCOMPARE(f.engine().m_state, State::Stopped);
        if (!skip) {
            QVERIFY(heardWithin(2500 + kDelay, 5500 + kDelay) > 40);
            return;
        }
        // A step (50 ms) into a pause at most, then on to the lead-in before the speech.
        QCOMPARE(heardWithin(2100 + kDelay, 5700 + kDelay - 60), 0);
        QVERIFY(heardWithin(5700 + kDelay - 60, 6000 + kDelay) > 0);
        // The mark inside the second pause stops the jump there.
        QVERIFY(heardWithin(9000, 9100) > 0);
        QCOMPARE(heardWithin(8100 + kDelay, 9000), 0);
        QCOMPARE(heardWithin(9100, 11700 + kDelay - 60), 0);
        // The pause at the end: its lead-in, then the end.
        QCOMPARE(heardWithin(14100 + kDelay, 16700 + kDelay - 60), 0);
    }

    void silenceBoundariesFromStopped()
    {
        PanelFixture f(m_pauses);
        f.panel.GoToSilenceBoundary(true);
        QCOMPARE(f.engine().m_state, State::Paused);
        const int64_t first = int64_t(f.engine().GetPositionMilliseconds());
        QVERIFY2(std::abs(first - 2000 - kDelay) < 100, qPrintable(QString::number(first)));
        f.panel.GoToSilenceBoundary(true);
        const int64_t second = int64_t(f.engine().GetPositionMilliseconds());
        QVERIFY2(std::abs(second - 5700 - kDelay) < 100, qPrintable(QString::number(second)));
        QCOMPARE(f.panel.positionSlider()->value(), int(second / 1000));
        f.panel.GoToSilenceBoundary(false);
        QCOMPARE(int64_t(f.engine().GetPositionMilliseconds()), first);
        QCOMPARE(f.engine().m_state, State::Paused);
    }

    void optionsAreRemembered()
    {
        int heightWithStrip = 0;
        {
            PanelFixture f(m_minute);
            QVERIFY(f.panel.overviewShown());
            QVERIFY(!f.panel.skipsSilence());
            heightWithStrip = f.panel.height();
            f.panel.setOverviewShown(false);
            QVERIFY(f.panel.overviewStrip()->isHidden());
            QCOMPARE(f.panel.height(), heightWithStrip - CPanelDlg::kOverviewHeight + f.panel.skipSilenceBox()->sizeHint().height() + 6);
            bool told = false;
            f.panel.setSkipSilenceListener([&](bool skip) { told = skip; });
            f.panel.skipSilenceBox()->click();
            QVERIFY(told);
            QVERIFY(f.panel.skipsSilence());
        }
        PanelFixture again(m_minute);
        QVERIFY(!again.panel.overviewShown());
        QVERIFY(again.panel.skipsSilence());
        QVERIFY(again.panel.skipSilenceBox()->isChecked());
        again.panel.setOverviewShown(true);
        QCOMPARE(again.panel.height(), heightWithStrip);
    }

    void commandsAndThePanelShareTheOptions()
    {
        CSetting setting;
        setting.Load();
        CTALVEN77PCDoc document;
        document.RunStartupChecks(m_places.newFolder(QStringLiteral("save")));
        CTALVEN77PCView view(document, setting);
        view.OnInitialUpdate();
        view.show();
        CPanelDlg* panel = view.controlPanel();
        CommandSet& commands = view.commands();
        QAction* overview = commands.action(Command::ShowOverview);
        QAction* skip = commands.action(Command::SkipSilence);
        QVERIFY(overview->isChecked());
        QVERIFY(!skip->isChecked());

        // The panel's area in the window grows and shrinks with the strip.
        const int withStrip = panel->parentWidget()->height();
        QCOMPARE(withStrip, panel->height());
        overview->trigger();
        QVERIFY(!panel->overviewShown());
        QVERIFY(panel->parentWidget()->height() < withStrip);
        QCOMPARE(panel->parentWidget()->height(), panel->height());

        panel->skipSilenceBox()->click();
        QVERIFY(skip->isChecked());
        view.UpdateCommandStates();
        QVERIFY(skip->isEnabled());
        skip->trigger();
        QVERIFY(!panel->skipsSilence());
        QVERIFY(!panel->skipSilenceBox()->isChecked());

        // A longer shortest pause leaves out the 3 s pause at the end of the recording shown.
        panel->setControlsAllowed(true);
        panel->LoadRecording(m_pauses, 1);
        if (!panel->session().analysis().isComplete())
            QVERIFY(QSignalSpy(&panel->session().analysis(), &RecordingAnalysis::completed).wait(60000));
        QCOMPARE(panel->session().silences().size(), size_t(3));
        view.setSilenceDialogRunner([](SilenceSettingsDlg& dialog) {
            dialog.minimumBox()->setValue(3.5);
            dialog.thresholdBox()->setValue(12);
            return int(QDialog::Accepted);
        });
        commands.action(Command::SilenceSettings)->trigger();
        QCOMPARE(panel->silenceOptions().minimumMilliseconds, 3500);
        QCOMPARE(panel->session().silences().size(), size_t(2));
        QCOMPARE(AnalysisSettings::Load().silence.minimumMilliseconds, 3500);
        QCOMPARE(AnalysisSettings::Load().silence.thresholdDecibels, 12.0);
        panel->UnloadRecording(0);
    }

    void stripFillsFromTheLeftWhileAnalysing()
    {
        const QString path = m_folder.filePath(QStringLiteral("LONG.MP3"));
        QVERIFY(WriteLongRecording(path, 120));
        CPanelDlg panel{[] { return std::make_unique<VirtualAudioOutput>(); }};
        panel.setControlsAllowed(true);
        QSignalSpy changed(&panel.session().analysis(), &RecordingAnalysis::envelopeChanged);
        panel.LoadRecording(path, 1);
        // Until the first twentieth is known (a pixel column stands for 20 s of audio).
        while (panel.session().analysis().envelope().durationMilliseconds() < 6 * 60 * 1000 && !panel.session().analysis().isComplete())
            QVERIFY(changed.wait(60000));
        QVERIFY(!panel.session().analysis().isComplete());
        OverviewStrip* strip = panel.overviewStrip();
        const QImage picture = strip->grab().toImage();
        // What the strip shows where nothing is drawn yet: the section's band, at the far right.
        const QColor background = picture.pixelColor(picture.width() - 2, picture.height() / 2);
        const auto drawnColumns = [&](int from, int to) {
            int drawn = 0;
            for (int x = from; x < to; ++x) {
                for (int y = picture.height() / 2 - 2; y <= picture.height() / 2 + 2; ++y) {
                    if (picture.pixelColor(x, y) != background) {
                        ++drawn;
                        break;
                    }
                }
            }
            return drawn;
        };
        // The first part is there, the far right (the last half hour) not yet.
        QVERIFY(drawnColumns(1, 4) > 0);
        QCOMPARE(drawnColumns(picture.width() * 3 / 4, picture.width() - 2), 0);
        panel.UnloadRecording(0);
        QTRY_COMPARE_WITH_TIMEOUT(panel.session().analysis().runningJobs(), 0, 60000);
    }
};

TALVEN77_REGISTER_TEST(OverviewTest);
#include "OverviewTest.moc"
