#include "CardBuilder.h"
#include "MessageRecorder.h"
#include "Mp3Encoder.h"
#include "RecordingBuilder.h"
#include "SimulatedPlaces.h"
#include "TestFiles.h"
#include "TestMounts.h"
#include "TestRegistry.h"
#include "VirtualAudioOutput.h"
#include "platform/ProgramIdentity.h"
#include "player/PlaybackSession.h"
#include "player/RecordingPanel.h"
#include "recording/VoiceDuration.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <map>
#include <sys/file.h>

// The rules of listening, on a playback session without a window: the engine plays
// on the virtual clock, and a stand-in for the recording list loads the rows.

namespace {

constexpr uint32_t E = kEmptyIndexMark;

tagVoiceHeader headerOf(const QString& path)
{
    tagVoiceHeader header{};
    ReadVoiceHeader(path, header);
    return header;
}

// The recording list as the session sees it: rows of recordings, the focused one
// loaded, headers shown as the session refreshes them. Selecting a row lets go of
// the loaded recording and loads that row's, as the window's list does.
class ListStandIn final : public RecordingListHost
{
public:
    ListStandIn(PlaybackSession& session, const QStringList& paths) : m_session(session), m_paths(paths)
    {
        for (const QString& path : paths)
            m_rows.append(headerOf(path));
    }

    void select(int row)
    {
        m_focused = row;
        m_session.UnloadRecording(0);
        m_session.LoadRecording(m_paths[row], row + 1);
        m_session.setControlsAllowed(true);
    }
    tagVoiceHeader rowHeader(int row) const { return m_rows[row]; }

    void RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header) override
    {
        if (row >= 0 && row < m_rows.size() && m_paths[row] == path)
            m_rows[row] = header;
    }
    bool SelectNextRecording() override { return selectNeighbour(m_focused + 1); }
    bool SelectPrevRecording() override { return selectNeighbour(m_focused - 1); }
    int focusedRow() const override { return m_focused; }

private:
    bool selectNeighbour(int row)
    {
        if (m_focused < 0 || row < 0 || row >= m_paths.size())
            return false;
        if (!QFile::exists(m_paths[row])) {
            // The list drops a row whose file has gone; the loaded recording loses the selection.
            m_focused = row;
            m_session.UnloadRecording(0);
            return false;
        }
        select(row);
        return true;
    }

    PlaybackSession& m_session;
    QStringList m_paths;
    QList<tagVoiceHeader> m_rows;
    int m_focused = -1;
};

} // namespace

class SessionTest : public QObject
{
    Q_OBJECT

    SimulatedPlaces m_places;

    // A folder of three recordings of a minute (a, b, c) in a list whose first row
    // is loaded into a session that plays on the virtual clock.
    struct Fixture
    {
        QString folder;
        VirtualAudioOutput* output = nullptr;
        PlaybackSession session{[this] {
            auto made = std::make_unique<VirtualAudioOutput>();
            output = made.get();
            return made;
        }};
        std::unique_ptr<ListStandIn> list;

        explicit Fixture(SimulatedPlaces& places, const QList<tagVoiceHeader>& headers = {})
        {
            folder = places.newFolder(QStringLiteral("day")) + u'/';
            QStringList paths;
            for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
                const tagVoiceHeader header = paths.size() < headers.size() ? headers[paths.size()] : MakeVoiceHeader(0);
                paths << folder + QString::fromLatin1(name);
                if (!WriteFileBytes(paths.last(), BuildRecording(header, MinuteOfRecorderAudio())))
                    qFatal("cannot write a recording");
            }
            list = std::make_unique<ListStandIn>(session, paths);
            session.setHost(list.get());
            list->select(0);
        }
        ~Fixture() { session.setHost(nullptr); }

        CMp3Ctrl& engine() { return session.engine(); }
        void select(int row) { list->select(row); }
        int focusedRow() { return list->focusedRow(); }
        tagVoiceHeader rowHeader(int row) { return list->rowHeader(row); }
        // Plays on for this long, delivering notices and timer ticks as the window would.
        void play(double seconds)
        {
            for (double done = 0; done < seconds; done += 0.25) {
                if (output)
                    output->advance(0.25);
                QCoreApplication::processEvents();
                session.OnTimer();
            }
        }
        void seek(uint32_t second)
        {
            engine().SetPosition(second);
            session.OnTimer();
        }
        // Starts playing at a second (paused there when pause is set).
        void playAt(uint32_t second, bool pause = false)
        {
            session.OnPlay();
            seek(second);
            if (pause)
                session.OnPause();
        }
    };

private Q_SLOTS:
    void init()
    {
        g_bNoAudioOutput = false;
        OpenProgramSettings()->clear();
    }

    // What follows the session (the panel, the media controls) hears of each change once.
    void saysWhatChanged()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {20})});
        QSignalSpy section(&f.session, &PlaybackSession::sectionChanged);
        QSignalSpy marks(&f.session, &PlaybackSession::marksChanged);
        QSignalSpy header(&f.session, &PlaybackSession::headerChanged);
        QSignalSpy ended(&f.session, &PlaybackSession::reachedEnd);
        QSignalSpy loaded(&f.session, &PlaybackSession::recordingLoaded);
        f.session.setSection(50, 60);
        QCOMPARE(section.size(), 1);
        f.session.setSection(50, 60); // no change, no word
        QCOMPARE(section.size(), 1);
        f.session.OnProtect();
        QCOMPARE(header.size(), 1);
        f.session.moveMark(0, 30);
        QCOMPARE(marks.size(), 1);
        QCOMPARE(header.size(), 1); // a flag being dragged is no change of the header yet
        f.session.dropMarks();
        QCOMPARE(marks.size(), 2);
        QCOMPARE(header.size(), 2);
        QCOMPARE(GetIndexMarks(f.rowHeader(0)), (IndexMarks{30, E, E, E, E}));
        f.session.OnPlay(); // the played mark
        QCOMPARE(header.size(), 3);
        f.play(10.5);
        QCOMPARE(ended.size(), 1);
        QCOMPARE(f.session.state(), CMp3Ctrl::Stopped);
        QCOMPARE(loaded.size(), 0);
        f.session.OnSkipForward(); // stopped: the next recording
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(f.focusedRow(), 1);
    }

    // The tick wakes the session only while the engine plays, and once after it stopped.
    void theTickRunsOnlyWhilePlaying()
    {
        Fixture f(m_places);
        struct Ticks : QObject
        {
            int count = 0;
            bool eventFilter(QObject*, QEvent* event) override
            {
                count += event->type() == QEvent::Timer;
                return false;
            }
        } ticks;
        f.session.installEventFilter(&ticks);
        QTest::qWait(600);
        QCOMPARE(ticks.count, 0); // loaded, stopped
        f.session.OnPlay();
        QTRY_VERIFY(ticks.count >= 2);
        f.session.OnStop();
        QTest::qWait(300);
        ticks.count = 0;
        QTest::qWait(600);
        QCOMPARE(ticks.count, 0);
        f.session.OnPlay();
        f.session.OnPause();
        QTest::qWait(300);
        ticks.count = 0;
        QTest::qWait(600);
        QCOMPARE(ticks.count, 0); // paused
    }

    void protectToggles()
    {
        tagVoiceHeader header = MakeVoiceHeader(0);
        header.protectFlag = 5;
        Fixture f(m_places, {header});
        f.session.OnProtect();
        QCOMPARE(f.session.header().protectFlag, 0);
        QCOMPARE(f.rowHeader(0).protectFlag, 0);
        f.session.OnProtect();
        QCOMPARE(f.session.header().protectFlag, 1);
        QVERIFY(f.session.UnloadRecording(0));
        QCOMPARE(headerOf(f.folder + "a.mp3").protectFlag, 1);
    }

    void skipping_data()
    {
        QTest::addColumn<int>("state"); // engine state to start from
        QTest::addColumn<uint32_t>("at");
        QTest::addColumn<bool>("forward");
        QTest::addColumn<int>("row");        // the loaded row afterwards
        QTest::addColumn<uint32_t>("position");
        QTest::addColumn<int>("stateAfter");
        const int playing = CMp3Ctrl::Playing, paused = CMp3Ctrl::Paused, stopped = CMp3Ctrl::Stopped;
        QTest::newRow("forward playing at 25") << playing << 25u << true << 1 << 40u << playing;
        QTest::newRow("forward playing at 45") << playing << 45u << true << 2 << 0u << playing;
        QTest::newRow("back playing at 45") << playing << 45u << false << 1 << 40u << playing;
        QTest::newRow("back playing at 40") << playing << 40u << false << 1 << 10u << playing;
        QTest::newRow("back playing at 10") << playing << 10u << false << 1 << 0u << playing;
        QTest::newRow("forward paused at 10") << paused << 10u << true << 1 << 40u << paused;
        QTest::newRow("back paused at 40") << paused << 40u << false << 1 << 10u << paused;
        QTest::newRow("forward stopped") << stopped << 0u << true << 2 << 0u << stopped;
        QTest::newRow("back stopped") << stopped << 0u << false << 0 << 0u << stopped;
    }

    void skipping()
    {
        QFETCH(int, state);
        QFETCH(uint32_t, at);
        QFETCH(bool, forward);
        QFETCH(int, row);
        QFETCH(uint32_t, position);
        QFETCH(int, stateAfter);
        const tagVoiceHeader marked = MakeVoiceHeader(0, {}, {10, 40});
        Fixture f(m_places, {marked, marked, marked});
        f.select(1);
        if (state != CMp3Ctrl::Stopped) {
            f.session.OnPlay();
            f.seek(at);
            if (state == CMp3Ctrl::Paused)
                f.session.OnPause();
        }
        if (forward)
            f.session.OnSkipForward();
        else
            f.session.OnSkipBack();
        f.session.OnTimer();
        QCOMPARE(f.focusedRow(), row);
        QCOMPARE(f.session.rowNumber(), row + 1);
        QCOMPARE(uint32_t(f.engine().GetPosition()), position);
        QCOMPARE(int(f.engine().m_state), stateAfter);
    }

    void indexToggledWhilePlaying()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {40})});
        f.session.OnPlay();
        f.session.toggleMarkHeard(); // at 0 s: a mark at 0 is no mark
        QCOMPARE(GetIndexMarks(f.session.header()), (IndexMarks{40, E, E, E, E}));
        f.seek(25);
        f.session.toggleMarkHeard();
        QCOMPARE(GetIndexMarks(f.session.header()), (IndexMarks{25, 40, E, E, E}));
        QCOMPARE(GetIndexMarks(f.rowHeader(0)), (IndexMarks{25, 40, E, E, E}));
        f.seek(40);
        f.session.toggleMarkHeard(); // on an existing mark: it goes
        QCOMPARE(GetIndexMarks(f.session.header()), (IndexMarks{25, E, E, E, E}));
        QVERIFY(f.session.headerDirty());
    }

    // The output holds a second ahead of what is heard and no tick has come since PLAY:
    // a mark, a skip or a step goes from the second heard at the press.
    void pressesUseTheSecondHeard_data()
    {
        QTest::addColumn<QString>("press");
        QTest::addColumn<double>("heard");
        QTest::addColumn<uint32_t>("position");
        QTest::addColumn<IndexMarks>("marksAfter");
        QTest::newRow("index") << "index" << 25.4 << 25u << IndexMarks{10, 25, 40, E, E};
        QTest::newRow("skip back") << "skip back" << 45.5 << 40u << IndexMarks{10, 40, E, E, E};
        QTest::newRow("skip forward") << "skip forward" << 25.5 << 40u << IndexMarks{10, 40, E, E, E};
        QTest::newRow("fast forward") << "fast forward" << 25.5 << 28u << IndexMarks{10, 40, E, E, E};
        QTest::newRow("fast back") << "fast back" << 25.5 << 22u << IndexMarks{10, 40, E, E, E};
    }

    void pressesUseTheSecondHeard()
    {
        QFETCH(QString, press);
        QFETCH(double, heard);
        QFETCH(uint32_t, position);
        QFETCH(IndexMarks, marksAfter);
        Fixture f(m_places, {MakeVoiceHeader(0, {}, {10, 40})});
        f.output->bufferSeconds = 1.0;
        f.session.OnPlay();
        f.output->advance(heard);
        PlaybackSession& session = f.session;
        const std::map<QString, std::function<void()>> presses{
            {QStringLiteral("index"), [&] { f.session.toggleMarkHeard(); }},
            {QStringLiteral("skip back"), [&] { session.OnSkipBack(); }},
            {QStringLiteral("skip forward"), [&] { session.OnSkipForward(); }},
            {QStringLiteral("fast forward"), [&] { session.OnFastForward(); }},
            {QStringLiteral("fast back"), [&] { session.OnFastBack(); }},
        };
        presses.at(press)();
        QCOMPARE(GetIndexMarks(f.session.header()), marksAfter);
        QCOMPARE(uint32_t(f.engine().GetPosition()), position);
        QCOMPARE(int(f.engine().m_state), int(CMp3Ctrl::Playing));
    }

    // A second press a second later adds a mark of its own instead of taking the first away.
    void marksASecondApartBothStay()
    {
        Fixture f(m_places);
        f.output->bufferSeconds = 1.0;
        f.session.OnPlay();
        f.output->advance(5.2);
        f.session.toggleMarkHeard();
        f.output->advance(1.0);
        f.session.toggleMarkHeard();
        QCOMPARE(GetIndexMarks(f.session.header()), (IndexMarks{5, 6, E, E, E}));
    }

    // The end of the section is acted on when it has been heard, without waiting for a tick.
    void theEndIsActedOnAsItIsHeard()
    {
        Fixture f(m_places);
        f.output->bufferSeconds = 1.0;
        f.session.setSection(50, 60);
        f.session.OnPlay();
        f.output->advance(9.5);
        QCoreApplication::processEvents();
        QCOMPARE(int(f.engine().m_state), int(CMp3Ctrl::Playing));
        f.output->advance(0.6);
        QCoreApplication::processEvents();
        QCOMPARE(int(f.engine().m_state), int(CMp3Ctrl::Stopped));
        QCOMPARE(f.session.position(), 50u);
    }

    void playModesAtTheEnd_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("startRow");
        QTest::addColumn<int>("rowAfter");
        QTest::addColumn<int>("stateAfter");
        QTest::addColumn<uint32_t>("positionAfter");
        QTest::newRow("once") << 0 << 0 << 0 << int(CMp3Ctrl::Stopped) << 50u;
        QTest::newRow("repeat") << 1 << 0 << 0 << int(CMp3Ctrl::Playing) << 50u;
        QTest::newRow("continuous") << 2 << 0 << 1 << int(CMp3Ctrl::Playing) << 0u;
        QTest::newRow("continuous, last row") << 2 << 2 << 2 << int(CMp3Ctrl::Stopped) << 50u;
    }

    void playModesAtTheEnd()
    {
        QFETCH(int, mode);
        QFETCH(int, startRow);
        QFETCH(int, rowAfter);
        QFETCH(int, stateAfter);
        QFETCH(uint32_t, positionAfter);
        Fixture f(m_places);
        f.select(startRow);
        f.session.setPlayMode(mode);
        // A section from 50 s to the end.
        f.session.setSection(50, 60);
        f.session.OnPlay();
        f.play(10.5);
        QCOMPARE(f.focusedRow(), rowAfter);
        QCOMPARE(int(f.engine().m_state), stateAfter);
        QCOMPARE(uint32_t(f.engine().GetPosition()), positionAfter);
        QCOMPARE(f.session.position(), positionAfter);
    }

    void aHeaderThatCannotBeWrittenIsNotRetried()
    {
        Fixture f(m_places);
        f.session.OnProtect();
        // The file's tag shrank meanwhile and no longer holds the header: it
        // still reads, but nothing may be written to it.
        QByteArray shrunk = BuildRecording(MakeVoiceHeader(0), MinuteOfRecorderAudio());
        shrunk.replace(6, 4, QByteArray("\0\0\0\x0A", 4));
        QVERIFY(WriteFileBytes(f.folder + "a.mp3", shrunk));
        QVERIFY(!f.session.UnloadRecording(0));
        QVERIFY(!f.session.headerDirty());
        QCOMPARE(f.rowHeader(0).protectFlag, 0); // the row shows what the file holds
        QVERIFY(f.session.UnloadRecording(0));
    }

    void theHeaderGoesOnlyIntoTheFileItWasReadFrom()
    {
        Fixture f(m_places, {MakeVoiceHeader(0, QStringLiteral("a")), MakeVoiceHeader(2, QStringLiteral("b"), {30})});
        MessageRecorder messages;
        f.session.OnProtect();
        // Another recording now has the loaded one's name.
        QVERIFY(QFile::remove(f.folder + "a.mp3"));
        QVERIFY(QFile::copy(f.folder + "b.mp3", f.folder + "a.mp3"));
        f.select(2);
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, QStringLiteral("ヘッダが更新できません。書込み禁止になっていないか確認してください。"));
        const tagVoiceHeader other = headerOf(f.folder + "a.mp3");
        QCOMPARE(other.protectFlag, 0);
        QCOMPARE(other.mode, 2);
        QCOMPARE(VoiceMemoText(other), QStringLiteral("b"));
        QCOMPARE(VoiceMemoText(f.rowHeader(0)), QStringLiteral("b"));

        // A loaded file deleted meanwhile: the same message, nothing created.
        f.select(1);
        f.session.OnProtect();
        QVERIFY(QFile::remove(f.folder + "b.mp3"));
        QVERIFY(!f.session.UnloadRecording(0));
        QCOMPARE(messages.entries().size(), 2);
        QVERIFY(!QFile::exists(f.folder + "b.mp3"));
    }

    void thePlayedMarkIsDroppedSilentlyOnReadOnlyMedia()
    {
        Fixture f(m_places);
        const QStringList files{f.folder + "a.mp3", f.folder + "b.mp3", f.folder + "c.mp3"};
        QList<QByteArray> before;
        for (const QString& file : files)
            before.append(ReadWholeFile(file));
        const ScopedMount readOnly = ScopedMount::ReadOnly(f.folder);
        if (!readOnly.mounted())
            QSKIP("making a folder read-only in place needs root");
        MessageRecorder messages;
        // Continuous play runs through all three without a word.
        f.session.setPlayMode(2);
        f.session.OnPlay();
        f.play(125);
        QCOMPARE(f.focusedRow(), 2);
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Playing);
        QVERIFY(f.session.UnloadRecording(0));
        QVERIFY(messages.entries().isEmpty());
        QCOMPARE(f.rowHeader(0).playedFlag, 0); // the row shows what the file holds

        // A change the user made still gets the warning.
        f.select(1);
        f.session.OnPlay();
        f.session.OnProtect();
        QVERIFY(!f.session.UnloadRecording(0));
        QCOMPARE(messages.entries().size(), 1);
        QCOMPARE(messages.entries()[0].text, VoiceHeaderWriteFailedMessage());
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(ReadWholeFile(files[i]), before[i]);
    }

    void aHeaderThatCouldNotBeReadIsNeverWritten()
    {
        Fixture f(m_places, {MakeVoiceHeader(0), MakeVoiceHeader(2, QStringLiteral("keep"), {12, 34})});
        {
            // Another operation holds the file while it is selected.
            QFile held(f.folder + "b.mp3");
            QVERIFY(held.open(QIODevice::ReadOnly));
            QCOMPARE(flock(held.handle(), LOCK_EX | LOCK_NB), 0);
            f.select(1);
            QCOMPARE(f.session.header().mode, 0);
            QVERIFY(f.session.fileTime() > 0); // the date still shows
        }
        f.session.OnProtect();
        QVERIFY(!f.session.UnloadRecording(0));
        const tagVoiceHeader kept = headerOf(f.folder + "b.mp3");
        QCOMPARE(kept.mode, 2);
        QCOMPARE(kept.protectFlag, 0);
        QCOMPARE(VoiceMemoText(kept), QStringLiteral("keep"));
        QCOMPARE(GetIndexMarks(kept), (IndexMarks{12, 34, E, E, E}));
    }

    void aNewSpeedPlaysOnFromTheSameSecond()
    {
        Fixture f(m_places);
        f.session.OnPlay();
        f.play(10);
        f.session.setSpeed(CMp3Ctrl::Slow);
        QCOMPARE(f.engine().m_speed, int(CMp3Ctrl::Slow));
        QCOMPARE(f.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(uint32_t(f.engine().GetPosition()), 10u);
        f.play(4); // 4 s at three quarters of the speed: 3 s of the recording
        QCOMPARE(uint32_t(f.engine().GetPosition()), 13u);
    }

    // Resuming goes back by the set time, never before the section's begin, and from
    // where the pause was heard (the buffer the output holds counts for nothing).
    void rewindOnResumeClampedAtTheSection_data()
    {
        QTest::addColumn<int>("begin");
        QTest::addColumn<int>("pausedAt");
        QTest::addColumn<int>("rewind");
        QTest::addColumn<int>("expected");
        QTest::newRow("2 s back") << 0 << 30 << 2 << 28;
        QTest::newRow("none") << 0 << 30 << 0 << 30;
        QTest::newRow("10 s back") << 0 << 30 << 10 << 20;
        QTest::newRow("clamped at the recording's start") << 0 << 1 << 2 << 0;
        QTest::newRow("clamped at the section's begin") << 10 << 11 << 5 << 10;
    }

    void rewindOnResumeClampedAtTheSection()
    {
        QFETCH(int, begin);
        QFETCH(int, pausedAt);
        QFETCH(int, rewind);
        QFETCH(int, expected);
        Fixture w(m_places);
        TransportSettings settings = w.session.transportSettings();
        settings.rewindOnResumeSeconds = rewind;
        w.session.applyTransportSettings(settings);
        w.output->bufferSeconds = 0.5;
        w.session.setSection(uint32_t(begin), 60);
        w.playAt(uint32_t(pausedAt) - 1);
        w.play(1.0); // heard up to pausedAt, pulled half a second beyond
        w.session.OnPause();
        QCOMPARE(w.engine().GetPosition(), uint64_t(pausedAt));
        w.session.OnPlay();
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(w.engine().GetPositionMilliseconds() / 100, uint64_t(expected) * 10);
        // PLAY from stop starts at the begin as ever.
        w.session.OnStop();
        w.session.OnPlay();
        QCOMPARE(w.engine().GetPosition(), uint64_t(begin));
    }

    // The last seconds again: from the start when fewer have been played, then on.
    void replayAtTheStart_data()
    {
        QTest::addColumn<int>("begin");
        QTest::addColumn<int>("at");
        QTest::addColumn<int>("expected");
        QTest::newRow("2 s in") << 0 << 2 << 0;
        QTest::newRow("stopped") << 0 << -1 << 0;
        QTest::newRow("section's begin") << 10 << 12 << 10;
        QTest::newRow("well into it") << 0 << 30 << 25;
    }

    void replayAtTheStart()
    {
        QFETCH(int, begin);
        QFETCH(int, at);
        QFETCH(int, expected);
        Fixture w(m_places);
        w.session.setSection(uint32_t(begin), 60);
        if (at >= 0)
            w.playAt(uint32_t(at));
        w.session.runTransport(TransportAction::Replay);
        QCOMPARE(w.engine().m_state, CMp3Ctrl::Playing);
        QCOMPARE(w.engine().GetPosition(), uint64_t(expected));
        w.play(6.0);
        QCOMPARE(w.engine().GetPosition(), uint64_t(expected) + 6);
    }
};

TALVEN77_REGISTER_TEST(SessionTest);

#include "SessionTest.moc"
