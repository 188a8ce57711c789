#include "MessageRecorder.h"
#include "PlayerWindow.h"
#include "TestRegistry.h"
#include "platform/ProgramIdentity.h"
#include "widgets/EditEx.h"
#include "player/PanelButton.h"
#include "view/CommandSet.h"
#include "view/MainList.h"
#include "view/RecordingListModel.h"
#include "view/TransportCommands.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QTest>

namespace {

// Counts the presses of one key that reach a widget as key events.
class KeyCounter : public QObject
{
public:
    KeyCounter(QWidget* widget, const QKeyCombination& key) : m_key(key)
    {
        widget->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto* press = static_cast<QKeyEvent*>(event);
            if (press->keyCombination() == m_key)
                ++count;
        }
        return false;
    }

private:
    QKeyCombination m_key;
};

} // namespace

// The playback commands as the user reaches them: keys on the window, Enter and a
// double-click on a row, the panel's buttons' rules for when they do anything.
class TransportKeysTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

private Q_SLOTS:
    void init()
    {
        OpenProgramSettings()->clear();
        QVERIFY(m_places.setDrives({}));
    }

    // Each command through its default key, from a known state: rewind 2 s, replay
    // 5 s, skips of 3 s, a speed step of 0.1, index marks at 10 s and 40 s.
    void everyCommandThroughItsKey_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("startState"); // 1 stopped, 2 playing at 20 s, 3 paused at 20 s
        QTest::addColumn<double>("startRate");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("second");
        QTest::addColumn<double>("rate");
        QTest::newRow("Space plays") << "Space" << 1 << 1.0 << 2 << 0 << 1.0;
        QTest::newRow("Space pauses") << "Space" << 2 << 1.0 << 3 << 20 << 1.0;
        QTest::newRow("Space resumes 2 s back") << "Space" << 3 << 1.0 << 2 << 18 << 1.0;
        QTest::newRow("F4 stops") << "F4" << 2 << 1.0 << 1 << 0 << 1.0;
        QTest::newRow("Ctrl+Left goes back") << "Ctrl+Left" << 2 << 1.0 << 2 << 17 << 1.0;
        QTest::newRow("Ctrl+Right goes forward") << "Ctrl+Right" << 2 << 1.0 << 2 << 23 << 1.0;
        QTest::newRow("Ctrl+Right paused stays paused")
            << "Ctrl+Right" << 3 << 1.0 << 3 << 23 << 1.0;
        QTest::newRow("Ctrl+PgUp previous index") << "Ctrl+PgUp" << 2 << 1.0 << 2 << 10 << 1.0;
        QTest::newRow("Ctrl+PgDown next index") << "Ctrl+PgDown" << 2 << 1.0 << 2 << 40 << 1.0;
        QTest::newRow("Ctrl+R replays") << "Ctrl+R" << 2 << 1.0 << 2 << 15 << 1.0;
        QTest::newRow("Ctrl+R replays when paused") << "Ctrl+R" << 3 << 1.0 << 2 << 15 << 1.0;
        QTest::newRow("Ctrl+Shift+Up faster") << "Ctrl+Shift+Up" << 2 << 1.0 << 2 << 20 << 1.1;
        QTest::newRow("Ctrl+Shift+Down slower") << "Ctrl+Shift+Down" << 2 << 1.0 << 2 << 20 << 0.9;
        QTest::newRow("Ctrl+0 normal speed") << "Ctrl+0" << 2 << 1.3 << 2 << 20 << 1.0;
    }

    void everyCommandThroughItsKey()
    {
        QFETCH(QString, key);
        QFETCH(int, startState);
        QFETCH(double, startRate);
        QFETCH(int, state);
        QFETCH(int, second);
        QFETCH(double, rate);
        PlayerWindow w(m_places);
        w.panel->session().setTransportRate(startRate);
        if (startState != 1)
            w.playAt(20, startState == 3);
        w.view->recordingList()->setFocus();
        w.press(key);
        QCOMPARE(int(w.engine().m_state), state);
        QCOMPARE(w.engine().GetPosition(), uint64_t(second));
        QCOMPARE(w.engine().m_tempo, rate);
        // What is heard next comes from there, at that rate.
        if (state == 2) {
            w.play(1.0);
            QVERIFY(w.engine().GetPositionMilliseconds() >=
                    uint64_t(second) * 1000 + uint64_t(rate * 900));
        }
    }

    // A command's key belongs to the window also where the command cannot run: at the
    // speed's ends, before the first and past the last recording, at the section's start
    // and end, stopped. Handed to the focused control it would mean something else there
    // (Ctrl+Shift+Down extends the list's selection, which empties the panel; F4 opens a
    // list box).
    void keysAtTheirLimitsStayWithTheWindow_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("row");        // the recording played by Enter on its row
        QTest::addColumn<int>("startState"); // 1 stopped, 2 playing, 3 paused
        QTest::addColumn<int>("second");     // where it plays or pauses
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("onSpeedList"); // the focus on the panel's speed list, else the list
        QTest::newRow("slower at the slowest") << "Ctrl+Shift+Down" << 1 << 2 << 20 << 0.5 << false;
        QTest::newRow("slower at the slowest, paused") << "Ctrl+Shift+Down" << 1 << 3 << 20 << 0.5 << false;
        QTest::newRow("faster at the fastest") << "Ctrl+Shift+Up" << 1 << 2 << 20 << 2.0 << false;
        QTest::newRow("faster at the fastest, speed list") << "Ctrl+Shift+Up" << 1 << 2 << 20 << 2.0 << true;
        QTest::newRow("normal speed at normal speed") << "Ctrl+0" << 1 << 2 << 20 << 1.0 << false;
        QTest::newRow("previous index, first recording stopped") << "Ctrl+PgUp" << 0 << 1 << 0 << 1.0 << false;
        QTest::newRow("previous index at the start, paused") << "Ctrl+PgUp" << 0 << 3 << 0 << 1.0 << false;
        QTest::newRow("next index, last recording stopped") << "Ctrl+PgDown" << 2 << 1 << 0 << 1.0 << false;
        QTest::newRow("next index past the last mark of the last recording")
            << "Ctrl+PgDown" << 2 << 3 << 50 << 1.0 << false;
        QTest::newRow("back at the section's start") << "Ctrl+Left" << 1 << 3 << 0 << 1.0 << false;
        QTest::newRow("back stopped") << "Ctrl+Left" << 1 << 1 << 0 << 1.0 << false;
        QTest::newRow("forward stopped") << "Ctrl+Right" << 1 << 1 << 0 << 1.0 << false;
        QTest::newRow("forward stopped, speed list") << "Ctrl+Right" << 1 << 1 << 0 << 1.0 << true;
        QTest::newRow("stop stopped") << "F4" << 1 << 1 << 0 << 1.0 << false;
        QTest::newRow("stop stopped, speed list") << "F4" << 1 << 1 << 0 << 1.0 << true;
    }

    void keysAtTheirLimitsStayWithTheWindow()
    {
        QFETCH(QString, key);
        QFETCH(int, row);
        QFETCH(int, startState);
        QFETCH(int, second);
        QFETCH(double, rate);
        QFETCH(bool, onSpeedList);
        PlayerWindow w(m_places);
        CMainList* list = w.enterOnRow(row);
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
        if (startState == 1)
            w.panel->session().OnStop();
        else
            w.playAt(uint32_t(second), startState == 3);
        w.panel->session().setTransportRate(rate);
        QWidget* focus = list;
        if (onSpeedList)
            focus = w.panel->speedList();
        focus->setFocus();
        QTRY_VERIFY(focus->hasFocus());
        const QString path = w.panel->session().path();
        const uint64_t at = w.engine().GetPositionMilliseconds();

        const QKeyCombination combination = QKeySequence(key, QKeySequence::PortableText)[0];
        KeyCounter reached(focus, combination);
        w.press(key);
        QCOMPARE(reached.count, 0);
        QCOMPARE(int(w.engine().m_state), startState);
        QCOMPARE(w.engine().GetPositionMilliseconds(), at);
        QCOMPARE(w.engine().m_tempo, rate);
        QCOMPARE(w.panel->session().path(), path);
        QCOMPARE(list->currentIndex().row(), row);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
        QVERIFY(!w.panel->speedList()->view()->isVisible());
        QVERIFY(focus->hasFocus());
    }

    // As a user finds it: Enter on a row, normal speed, five presses down to the slowest
    // and a sixth one; the recording plays on at the slowest.
    void oneSlowerTooManyPlaysOn()
    {
        PlayerWindow w(m_places);
        CMainList* list = w.enterOnRow(1);
        w.press(QStringLiteral("Ctrl+0"));
        for (int i = 0; i < 5; ++i)
            w.press(QStringLiteral("Ctrl+Shift+Down"));
        QCOMPARE(w.engine().m_tempo, 0.5);
        QVERIFY(!w.view->commands().action(TransportCommand(TransportAction::Slower))->isEnabled());
        w.press(QStringLiteral("Ctrl+Shift+Down"));
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(w.engine().m_tempo, 0.5);
        QVERIFY(w.panel->session().path().endsWith(QStringLiteral("b.mp3")));
        QCOMPARE(list->currentIndex().row(), 1);
        // Back up to speed the key works again.
        w.press(QStringLiteral("Ctrl+Shift+Up"));
        QCOMPARE(w.engine().m_tempo, 0.6);
        w.press(QStringLiteral("Ctrl+Shift+Down"));
        QCOMPARE(w.engine().m_tempo, 0.5);
    }

    // Space types into the memo; a focused button keeps it; elsewhere it plays.
    void spaceNeverReachesTyping()
    {
        PlayerWindow w(m_places);
        CEditEx* memo = w.panel->memoEdit();
        memo->setFocus();
        QTRY_VERIFY(memo->hasFocus());
        QTest::keyClick(memo, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(memo, Qt::Key_Space);
        QCOMPARE(memo->toPlainText(), QStringLiteral("メモ0 "));
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Stopped);
        // A focused button keeps its Space: it clicks that button (here: on to the next recording).
        w.panel->button(CPanelDlg::IdSkipForward)->setFocus();
        QTest::keyClick(w.panel->button(CPanelDlg::IdSkipForward), Qt::Key_Space);
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Stopped);
        QCOMPARE(w.view->recordingList()->currentIndex().row(), 1);
        // From the tree, Space plays.
        w.view->folderTree()->setFocus();
        QTest::keyClick(w.view->folderTree(), Qt::Key_Space);
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
    }

    void enterOrDoubleClickPlaysTheRow()
    {
        PlayerWindow w(m_places);
        CMainList* list = w.enterOnRow(1);
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
        QVERIFY(w.panel->session().path().endsWith(QStringLiteral("b.mp3")));
        // A second Enter does not pause: it plays the row.
        QTest::keyClick(list, Qt::Key_Enter);
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);

        const QRect row = list->visualRect(w.view->recordings()->index(2, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Stopped);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row.center());
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
        QVERIFY(w.panel->session().path().endsWith(QStringLiteral("c.mp3")));
    }

    // The commands follow the panel's buttons: nothing to stop while stopped, no
    // skip of seconds without a position; the speed stops at its ends.
    void commandsFollowThePanel()
    {
        PlayerWindow w(m_places);
        CommandSet& c = w.view->commands();
        QVERIFY(c.action(TransportCommand(TransportAction::PlayPause))->isEnabled());
        QVERIFY(!c.action(TransportCommand(TransportAction::Stop))->isEnabled());
        QVERIFY(!c.action(TransportCommand(TransportAction::StepBack))->isEnabled());
        QVERIFY(c.action(TransportCommand(TransportAction::Replay))->isEnabled());
        QVERIFY(!c.action(TransportCommand(TransportAction::NormalSpeed))->isEnabled());
        w.playAt(20);
        QVERIFY(c.action(TransportCommand(TransportAction::Stop))->isEnabled());
        QVERIFY(c.action(TransportCommand(TransportAction::StepBack))->isEnabled());
        w.panel->session().setTransportRate(2.0);
        QVERIFY(!c.action(TransportCommand(TransportAction::Faster))->isEnabled());
        QVERIFY(c.action(TransportCommand(TransportAction::NormalSpeed))->isEnabled());
        QCOMPARE(c.action(TransportCommand(TransportAction::PlayPause))->shortcut(), QKeySequence(Qt::Key_Space));
    }

    // The speed list: the presets where the rate is one, an item of its own otherwise.
    void speedStepsShowInThePanel()
    {
        PlayerWindow w(m_places);
        QComboBox* list = w.panel->speedList();
        w.panel->session().setTransportRate(1.5);
        QCOMPARE(list->currentIndex(), 0);
        QCOMPARE(list->count(), 3);
        w.panel->session().runTransport(TransportAction::Faster);
        QCOMPARE(w.engine().m_tempo, 1.6);
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->currentText(), QStringLiteral("×1.60"));
        w.panel->session().setTransportRate(5.0);
        QCOMPARE(w.engine().m_tempo, 2.0);
        w.panel->session().runTransport(TransportAction::Faster);
        QCOMPARE(w.engine().m_tempo, 2.0);
        list->setCurrentIndex(2); // the user picks "遅い"
        QCOMPARE(w.engine().m_tempo, 0.75);
        QCOMPARE(list->count(), 3);
        for (int i = 0; i < 10; ++i)
            w.panel->session().runTransport(TransportAction::Slower);
        QCOMPARE(w.engine().m_tempo, 0.5);
    }

    // A rebound key works at once and is kept; a key another command has is refused.
    void keyRebindingWithAConflict()
    {
        PlayerWindow w(m_places);
        MessageRecorder messages;
        TransportCommands& commands = w.view->transportCommands();
        TransportSettings settings = commands.settings();
        settings.keys[size_t(TransportAction::Replay)] = QStringLiteral("F9");
        QVERIFY(commands.applySettings(settings));
        QCOMPARE(TransportSettings::Load().key(TransportAction::Replay), QStringLiteral("F9"));
        w.playAt(30);
        w.view->recordingList()->setFocus();
        w.press(QStringLiteral("Ctrl+R")); // no longer bound
        QCOMPARE(w.engine().GetPosition(), 30u);
        w.press(QStringLiteral("F9"));
        QCOMPARE(w.engine().GetPosition(), 25u);
        QVERIFY(messages.entries().isEmpty());
    }
};

TALVEN77_REGISTER_TEST(TransportKeysTest);

#include "TransportKeysTest.moc"
