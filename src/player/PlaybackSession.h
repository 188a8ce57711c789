#pragma once

#include "analysis/AnalysisSettings.h"
#include "analysis/Silences.h"
#include "audio/Mp3Ctrl.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceHeader.h"
#include "transport/TransportSettings.h"
#include "transport/TransportTarget.h"

#include <QBasicTimer>
#include <QObject>
#include <QString>
#include <vector>

class RecordingAnalysis;
class RecordingListHost;

// Listening to one recording of the list: the engine that plays it, its header
// copy, the position heard, the section between the begin and end points, the
// index marks, the play mode and what happens at the end, the speed, the volume,
// skipping silence and the replay. Changes of the header go into the copy and
// into the list row at once, and into the file when the session leaves the
// recording. Keys, foot pedals, the desktop's media controls and the panel's
// buttons all drive it as the one transport target; it says what changed by
// signals, and draws nothing.
class PlaybackSession : public QObject, public TransportTarget
{
    Q_OBJECT

public:
    static constexpr int kTimerMilliseconds = 250;
    // How long after a second begins to be heard the display turns to it.
    static constexpr int kSecondLateMilliseconds = 2;

    // What may be done now, as the panel's controls are enabled.
    enum class Control { Play, Pause, Stop, FastForward, FastBack, SkipBack, SkipForward, Edit, Index };
    // At the end of the section: stop, play it again, or go on with the next recording.
    enum PlayMode { Once = 0, Repeat = 1, Continuous = 2 };

    // outputs: where the engine plays (the default audio device when none is given).
    explicit PlaybackSession(AudioOutputFactory outputs = {}, QObject* parent = nullptr);
    ~PlaybackSession() override;

    // ---- The recording and the list -------------------------------------------
    // The list the session works with (not owned): it shows changed headers and
    // moves to the next or previous recording, which it then loads here.
    void setHost(RecordingListHost* host) { m_host = host; }
    // Leaves the recording held (its header written when changed) and loads another one.
    bool LoadRecording(const QString& path, int rowNumber);
    // Leaves the recording held; count: how many rows are selected now.
    bool UnloadRecording(int selectedCount);
    // Writes the header copy when its bytes differ from those read (the memo's
    // last text included): merely viewing a recording never writes it. False
    // when the write failed; the played mark alone, which the program sets by
    // itself, is dropped without a word on a file that cannot be written. The
    // change is not retried either way.
    bool CommitHeader();
    void setControlsAllowed(bool allowed);
    // The selected row's position (row + 1).
    void setRowNumber(int rowNumber);

    bool loaded() const { return !m_path.isEmpty(); }
    const QString& path() const { return m_path; }
    const tagVoiceHeader& header() const { return m_header; }
    bool headerDirty() const { return m_headerDirty; }
    int selectedCount() const { return m_selectedCount; }
    int rowNumber() const { return m_rowNumber; }
    bool controlsAllowed() const { return m_controlsAllowed; }
    int64_t fileTime() const { return m_fileTime; }
    uint32_t duration() const { return m_duration; }
    // The second heard, as the last look at the engine found it.
    uint32_t position() const { return m_position; }
    // Looks at the engine again and gives the second heard.
    uint32_t followEngine();
    CMp3Ctrl::PlayerState state() const { return m_engine->m_state; }
    bool endReached() const { return m_endReached; }
    bool allows(Control control) const;
    // Whether there is anything to play (or, without an audio output, to say why not).
    bool playable() const;
    CMp3Ctrl& engine() { return *m_engine; }

    // ---- The presses -----------------------------------------------------------
    // PLAY; after PAUSE it first goes back by the rewind on resume.
    void OnPlay() { play(true); }
    void OnStop();
    void OnPause();
    void OnFastBack();
    void OnFastForward();
    // To the next or previous index mark within the section, or the next or
    // previous recording of the list.
    void OnSkipForward();
    void OnSkipBack();
    // Plays the last seconds again (the replay's length, not before the section's
    // begin), then goes on.
    void OnReplay();
    void OnProtect();
    // The 250 ms tick, running while the engine plays and once after: follows the
    // engine, and acts on the end of playback by the play mode.
    void OnTimer();

    int playMode() const { return m_playMode; }
    void setPlayMode(int mode) { m_playMode = mode; }
    // One of the engine's three preset speeds; playing goes on from the same second.
    void setSpeed(int speed);
    // The preset speed whose rate is the one played at, or -1 for a rate between them.
    int speedPreset() const;
    // 0 (silent) to 100.
    int volume() const { return int(m_engine->m_volume); }
    void setVolume(int percent);

    // ---- The position, as the slider and the strip seek it ---------------------
    // Seeking pauses the engine until the seek ends (restore), then plays on,
    // pauses there, or stops when it lands on the section's begin.
    void seekToSecond(int second, bool restore);
    bool seeking() const { return m_seeking; }
    void endSeeking() { m_seeking = false; }
    // After a seek: the position heard shown, the controls and the next-second tick.
    void settle();
    // Playing or paused, the millisecond heard; stopped, the second shown.
    uint64_t positionMilliseconds();

    // ---- The section and the index marks ---------------------------------------
    uint32_t begin() const { return m_begin; }
    uint32_t end() const { return m_end; }
    // The section's points are set only while stopped.
    bool sectionEditable() const { return state() == CMp3Ctrl::Stopped; }
    void setSection(uint32_t begin, uint32_t end);
    // A point moved to a second: it stops a second short of the other one.
    void moveBeginTo(uint32_t second);
    void moveEndTo(uint32_t second);
    IndexMarks marks() const { return GetIndexMarks(m_header); }
    // Marks as the index dialog gives them back, for the recording it was opened on.
    void setMarks(const IndexMarks& marks);
    // Playing or paused: a mark at the second heard comes, or goes when there is one.
    void toggleMarkHeard();
    // A flag being dragged: its slot follows the pointer; dropMarks settles them
    // (a flag dropped at second 0 is deleted).
    void moveMark(int slot, uint32_t second);
    void dropMarks();

    // ---- The memo ----------------------------------------------------------------
    const QString& memo() const { return m_memo; }
    // The memo as the memo box gives back the one just loaded: a memo the user
    // leaves as it was keeps its bytes (line breaks, what follows its terminator).
    void setMemoAsShown(const QString& text);
    // The user changed the memo, or left the memo box (the text trimmed).
    void editMemo(const QString& text, bool always);
    // What the memo box holds before the recording is left, taken only when
    // nothing else changed since the last edit was taken.
    void noteMemoBox(const QString& text);

    // ---- Silence and the level envelope --------------------------------------------
    RecordingAnalysis& analysis() const { return *m_analysis; }
    // The silent stretches of the loaded recording, known once its envelope is complete.
    const std::vector<Silence>& silences() const { return m_silences; }
    bool skipsSilence() const { return m_analysisSettings.skipSilence; }
    void setSkipSilence(bool skip);
    SilenceOptions silenceOptions() const { return m_analysisSettings.silence; }
    void setSilenceOptions(const SilenceOptions& options);
    bool overviewShown() const { return m_analysisSettings.showOverview; }
    void setOverviewShown(bool shown);
    // To the next or previous place where silence begins or speech resumes.
    void GoToSilenceBoundary(bool forward);

    // ---- The transport target ------------------------------------------------------
    void applyTransportSettings(const TransportSettings& settings) override;
    const TransportSettings& transportSettings() const { return m_transportSettings; }
    TransportNotifier& transportNotifier() override { return m_notifier; }
    State transportState() const override;
    bool canRunTransport(TransportAction action) const override;
    void runTransport(TransportAction action) override;
    void transportPlay() override;
    void transportPause() override;
    qint64 transportPosition() override;
    void transportSeek(qint64 milliseconds) override;
    void transportNextRecording() override;
    double transportRate() const override { return m_engine->m_tempo; }
    void setTransportRate(double rate) override;
    double transportVolume() const override { return volume() / 100.0; }
    void setTransportVolume(double volume) override;
    TransportTrack transportTrack() const override;

Q_SIGNALS:
    // A recording was loaded (before the display is redrawn), or let go (also
    // when none was held).
    void recordingLoaded();
    void recordingUnloaded();
    // What may be done changed: the play state, the selection, the recording.
    void controlsChanged();
    // The header copy changed: the protect or played mark, the index marks, the memo,
    // or what the file holds after a write that failed.
    void headerChanged();
    // Playing reached the section's end and was stopped there; the play mode acts next.
    void reachedEnd();
    // The position heard moved: a tick, a seek, a stop.
    void positionChanged();
    // The display's content changed (state, header, position, selection).
    void displayChanged();
    void sectionChanged();
    void marksChanged();
    void rateChanged();
    void volumeChanged();
    void skipSilenceChanged(bool skip);
    // The silences of the loaded recording are known or found anew.
    void silencesChanged();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void play(bool rewind);
    void updateControls();
    void onGraphNotify();
    // While playing, a tick just after the next whole second is heard.
    void scheduleNextSecond();
    void jumpTo(uint64_t milliseconds);
    void changeSpeed(int speed);
    void applySection(uint32_t begin, uint32_t end);
    void storeMarks(const IndexMarks& marks) { SetIndexMarks(m_header, marks); }
    void storeMemo(const QString& text);
    void onEnvelopeCompleted();
    // While playing with silence skipped: jumps over the silence being heard, and
    // wakes up when the next one begins.
    void skipSilenceIfDue();
    void refreshFocusedRow();
    void refreshRow(int row);
    void markChanged();

    std::unique_ptr<CMp3Ctrl> m_engine;
    RecordingListHost* m_host = nullptr;
    QString m_path;
    tagVoiceHeader m_header{};
    bool m_headerDirty = false;
    // The file the header copy was read from, and whether there was one to read:
    // the copy goes back only into that file.
    FileIdentity m_readFrom;
    bool m_headerRead = false;
    // The header as read, and its memo as the memo box gave it back: only bytes
    // that differ from these are written.
    tagVoiceHeader m_headerAsRead{};
    QString m_memo;
    QString m_memoAsRead;
    int m_selectedCount = 0;
    int m_rowNumber = 0;
    bool m_controlsAllowed = false;
    int64_t m_fileTime = 0;
    uint32_t m_duration = 0;
    uint32_t m_position = 0;
    uint32_t m_begin = 0;
    uint32_t m_end = 0;
    bool m_endReached = false;
    int m_playMode = Once;
    bool m_seeking = false;
    CMp3Ctrl::PlayerState m_stateBeforeSeek = CMp3Ctrl::Stopped;
    QBasicTimer m_timer;
    QBasicTimer m_secondTimer;
    QBasicTimer m_silenceTimer;
    AnalysisSettings m_analysisSettings;
    RecordingAnalysis* m_analysis = nullptr;
    std::vector<Silence> m_silences;
    TransportSettings m_transportSettings;
    TransportNotifier m_notifier;
};
