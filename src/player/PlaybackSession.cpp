#include "PlaybackSession.h"

#include "MemoText.h"
#include "RecordingPanel.h"
#include "SectionRules.h"
#include "analysis/RecordingAnalysis.h"
#include "platform/Cp932.h"
#include "recording/VoiceDuration.h"

#include <QTimerEvent>
#include <algorithm>
#include <cstring>

namespace {

// Whether the two headers differ in the played mark alone.
bool onlyPlayedMarkDiffers(const tagVoiceHeader& changed, const tagVoiceHeader& read)
{
    tagVoiceHeader withoutMark = changed;
    withoutMark.playedFlag = read.playedFlag;
    return std::memcmp(&withoutMark, &read, sizeof read) == 0;
}

} // namespace

PlaybackSession::PlaybackSession(AudioOutputFactory outputs, QObject* parent)
    : QObject(parent), m_engine(std::make_unique<CMp3Ctrl>(std::move(outputs))),
      m_analysisSettings(AnalysisSettings::Load())
{
    m_analysis = new RecordingAnalysis(EnvelopeCache(), this);
    connect(m_analysis, &RecordingAnalysis::completed, this, &PlaybackSession::onEnvelopeCompleted);
    connect(m_engine.get(), &CMp3Ctrl::graphNotify, this, &PlaybackSession::onGraphNotify);
    // The tick runs only while something plays: idle, the session never wakes up.
    connect(m_engine.get(), &CMp3Ctrl::stateChanged, this, [this] {
        if (m_engine->m_state == CMp3Ctrl::Playing && !m_timer.isActive())
            m_timer.start(kTimerMilliseconds, this);
    });
    applyTransportSettings(TransportSettings::Load());
}

PlaybackSession::~PlaybackSession()
{
    m_timer.stop();
    CommitHeader();
}

// ---- The recording and the list ---------------------------------------------

bool PlaybackSession::CommitHeader()
{
    bool result = true;
    if (loaded() && m_headerDirty && std::memcmp(&m_header, &m_headerAsRead, sizeof m_header) != 0) {
        // Not retried, even when a message box shown by the write lets another commit in.
        m_headerDirty = false;
        // The engine lets go of the file before its header is written.
        m_engine->Stop();
        m_engine->Close();
        const HeaderChange change =
            onlyPlayedMarkDiffers(m_header, m_headerAsRead) ? HeaderChange::Automatic : HeaderChange::User;
        // A file whose header could not be read gets nothing written over it.
        const bool written = m_headerRead && WriteVoiceHeader(m_path, m_header, m_readFrom, change);
        if (written) {
            m_headerAsRead = m_header;
        } else {
            // The row shows what the file holds, not the change that did not
            // reach it; a file that cannot be read either leaves the row as it is.
            tagVoiceHeader stored{};
            if (ReadVoiceHeader(m_path, stored)) {
                m_header = stored;
                refreshRow(m_rowNumber - 1);
                Q_EMIT headerChanged();
            }
        }
        result = written || change == HeaderChange::Automatic;
    }
    m_headerDirty = false;
    return result;
}

bool PlaybackSession::LoadRecording(const QString& path, int rowNumber)
{
    const bool result = CommitHeader();
    m_path.clear();
    m_seeking = false;

    m_header = tagVoiceHeader{};
    m_headerAsRead = m_header;
    m_headerRead = false;
    m_readFrom = {};
    {
        RecordingFile file;
        if (file.open(path, RecordingFile::Access::Read)) {
            m_fileTime = file.creationTime();
            m_readFrom = file.identity();
            m_headerRead = ReadVoiceHeader(file, m_header);
            m_headerAsRead = m_header;
        } else {
            m_fileTime = RecordingFile::CreationTimeOf(path);
        }
    }
    m_engine->Open(path);
    m_path = path;

    m_duration = uint32_t(std::min<uint64_t>(m_engine->m_duration, UINT32_MAX));
    m_position = uint32_t(m_engine->GetPosition());
    m_begin = 0;
    m_end = m_duration;
    m_selectedCount = 1;
    m_rowNumber = rowNumber;
    m_silences.clear();
    m_analysis->load(path);
    m_memo = MemoOfHeader(m_header);
    m_memoAsRead = m_memo;

    updateControls();
    Q_EMIT recordingLoaded();
    Q_EMIT sectionChanged();
    Q_EMIT marksChanged();
    Q_EMIT displayChanged();
    Q_EMIT m_notifier.recordingChanged();
    return result;
}

bool PlaybackSession::UnloadRecording(int selectedCount)
{
    const bool result = CommitHeader();
    m_selectedCount = std::max(selectedCount, 0);
    m_seeking = false;
    // The path goes first: what is shown below is shown for no recording.
    const bool wasLoaded = loaded();
    m_path.clear();
    if (wasLoaded) {
        m_engine->Close();
        m_analysis->clear();
        m_silences.clear();
    }
    // As if a recording one second long were loaded, the section all of it (a begin
    // kept from a longer recording would stand off the bar).
    m_begin = 0;
    m_end = 1;
    m_memo.clear();
    m_memoAsRead.clear();
    if (selectedCount != 1)
        m_controlsAllowed = false;
    Q_EMIT recordingUnloaded();
    // Without a recording nothing is left to play or edit, whatever the count.
    updateControls();
    // The section and the flags depend on the count too: a second unload with
    // another count shows them again.
    Q_EMIT sectionChanged();
    Q_EMIT marksChanged();
    Q_EMIT displayChanged();
    if (wasLoaded)
        Q_EMIT m_notifier.recordingChanged();
    return result;
}

void PlaybackSession::setControlsAllowed(bool allowed)
{
    m_controlsAllowed = allowed;
    updateControls();
}

void PlaybackSession::setRowNumber(int rowNumber)
{
    m_rowNumber = rowNumber;
    Q_EMIT displayChanged();
}

bool PlaybackSession::playable() const
{
    // A file the engine could not open (its reason was shown then) has nothing to
    // play; without an audio output PLAY still says why it cannot play.
    return m_engine->IsOpen() || g_bNoAudioOutput;
}

bool PlaybackSession::allows(Control control) const
{
    // One row selected but no recording loaded (the focus on another row) is nothing to edit.
    const bool one = m_selectedCount == 1 && m_controlsAllowed && loaded();
    const CMp3Ctrl::PlayerState now = state();
    switch (control) {
    case Control::Play:
        return one && now != CMp3Ctrl::Playing && playable();
    case Control::Pause:
        return one && now == CMp3Ctrl::Playing;
    case Control::Stop:
    case Control::FastForward:
    case Control::FastBack:
        return one && now != CMp3Ctrl::Stopped;
    case Control::SkipBack:
    case Control::SkipForward:
    case Control::Edit:
        return one;
    case Control::Index:
        // A recording of no length has no second to put a mark at: the dialog and
        // the flags would turn every mark into one at 0, which deletes it.
        return one && m_duration > 0;
    }
    return false;
}

void PlaybackSession::updateControls()
{
    // Nothing selected while playback is allowed: the controls stay as they are.
    if (m_selectedCount == 0 && m_controlsAllowed)
        return;
    Q_EMIT controlsChanged();
    // What the keys and media controls may do follows the buttons.
    Q_EMIT m_notifier.stateChanged();
}

void PlaybackSession::refreshFocusedRow()
{
    if (m_host)
        refreshRow(m_host->focusedRow());
}

void PlaybackSession::refreshRow(int row)
{
    if (m_host && row >= 0 && loaded())
        m_host->RefreshRecordRow(m_path, row, m_header);
}

// ---- The presses ----------------------------------------------------------------

void PlaybackSession::play(bool rewind)
{
    if (!playable())
        return;
    if (rewind && m_engine->m_state == CMp3Ctrl::Paused && m_engine->IsOpen() &&
        m_transportSettings.rewindOnResumeSeconds > 0) {
        // A listener who paused has lost the last words: play on from a little before.
        const uint64_t heard = m_engine->GetPositionMilliseconds();
        const uint64_t back = uint64_t(m_transportSettings.rewindOnResumeSeconds) * 1000;
        m_engine->SeekMilliseconds(heard > back ? heard - back : 0);
        followEngine();
    }
    m_endReached = false;
    m_engine->Play();
    scheduleNextSecond();
    updateControls();
    m_header.playedFlag = 2;
    refreshFocusedRow();
    m_headerDirty = true;
    Q_EMIT headerChanged();
    Q_EMIT displayChanged();
}

void PlaybackSession::OnStop()
{
    m_engine->Stop();
    // The position goes where the next PLAY starts: the section's begin.
    followEngine();
    Q_EMIT positionChanged();
    updateControls();
    Q_EMIT displayChanged();
}

void PlaybackSession::OnPause()
{
    m_engine->Pause();
    updateControls();
    Q_EMIT displayChanged();
}

void PlaybackSession::OnFastBack()
{
    m_endReached = false;
    m_engine->StepBack();
    OnTimer();
}

void PlaybackSession::OnFastForward()
{
    m_endReached = false;
    m_engine->StepForward();
    OnTimer();
}

void PlaybackSession::OnSkipForward()
{
    const CMp3Ctrl::PlayerState before = state();
    if (before == CMp3Ctrl::Stopped) {
        if (m_host)
            m_host->SelectNextRecording();
        return;
    }
    m_endReached = false;
    followEngine();
    if (const std::optional<uint32_t> next = NextMark(marks(), m_position, m_end)) {
        m_engine->SetPosition(*next);
        if (before == CMp3Ctrl::Paused) {
            m_engine->Pause();
            return;
        }
    } else if (!m_host || !m_host->SelectNextRecording()) {
        return;
    }
    if (before == CMp3Ctrl::Playing)
        OnPlay();
}

void PlaybackSession::OnSkipBack()
{
    const CMp3Ctrl::PlayerState before = state();
    if (before == CMp3Ctrl::Stopped) {
        if (m_host)
            m_host->SelectPrevRecording();
        return;
    }
    m_endReached = false;
    followEngine();
    if (const std::optional<uint32_t> previous = PreviousMark(marks(), m_position, m_begin)) {
        m_engine->SetPosition(*previous);
        if (before == CMp3Ctrl::Paused) {
            m_engine->Pause();
            return;
        }
    } else {
        m_engine->SetPosition(m_begin);
    }
    if (before == CMp3Ctrl::Playing)
        OnPlay();
}

void PlaybackSession::OnReplay()
{
    if (!playable() || !m_engine->IsOpen())
        return;
    m_endReached = false;
    const uint64_t heard = m_engine->m_state == CMp3Ctrl::Stopped ? uint64_t(m_begin) * 1000
                                                                   : m_engine->GetPositionMilliseconds();
    const uint64_t back = uint64_t(m_transportSettings.replaySeconds) * 1000;
    m_engine->SeekMilliseconds(heard > back ? heard - back : 0);
    followEngine();
    if (m_engine->m_state == CMp3Ctrl::Playing)
        OnTimer();
    else
        play(false);
}

void PlaybackSession::OnProtect()
{
    m_header.protectFlag = m_header.protectFlag == 0 ? 1 : 0;
    Q_EMIT displayChanged();
    refreshFocusedRow();
    m_headerDirty = true;
    Q_EMIT headerChanged();
}

void PlaybackSession::setSpeed(int speed)
{
    if (m_engine->m_state == CMp3Ctrl::Playing) {
        // Playing goes on from the second it had reached.
        const uint64_t at = m_engine->GetPosition();
        m_engine->Pause();
        m_engine->SetSpeed(speed);
        m_engine->SetPosition(at);
        m_engine->Play();
    } else {
        m_engine->SetSpeed(speed);
    }
    Q_EMIT rateChanged();
    Q_EMIT m_notifier.rateChanged();
}

int PlaybackSession::speedPreset() const
{
    for (int speed = CMp3Ctrl::Fast; speed <= CMp3Ctrl::Slow; ++speed) {
        if (CMp3Ctrl::Tempo(speed) == m_engine->m_tempo)
            return speed;
    }
    return -1;
}

void PlaybackSession::setVolume(int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (uint32_t(percent) == m_engine->m_volume)
        return;
    m_engine->SetVolume(uint32_t(percent));
    Q_EMIT volumeChanged();
    Q_EMIT m_notifier.volumeChanged();
}

// ---- The tick --------------------------------------------------------------------

void PlaybackSession::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_timer.timerId()) {
        OnTimer();
    } else if (event->timerId() == m_secondTimer.timerId()) {
        m_secondTimer.stop();
        OnTimer();
    } else if (event->timerId() == m_silenceTimer.timerId()) {
        m_silenceTimer.stop();
        OnTimer();
    } else {
        QObject::timerEvent(event);
    }
}

uint32_t PlaybackSession::followEngine()
{
    m_position = uint32_t(m_engine->GetPosition());
    return m_position;
}

void PlaybackSession::scheduleNextSecond()
{
    if (m_engine->m_state != CMp3Ctrl::Playing) {
        m_secondTimer.stop();
        return;
    }
    // The display turns to the next second as that second is heard, not at whichever
    // tick comes after it.
    const uint64_t into = m_engine->GetPositionMilliseconds() % 1000;
    const int due = int(double(1000 - into) / m_engine->m_tempo) + kSecondLateMilliseconds;
    if (due < kTimerMilliseconds)
        m_secondTimer.start(due, Qt::PreciseTimer, this);
}

void PlaybackSession::OnTimer()
{
    skipSilenceIfDue();
    followEngine();
    if (m_engine->m_state == CMp3Ctrl::Playing && m_endReached) {
        m_endReached = false;
        m_engine->Stop();
        followEngine();
        updateControls();
        Q_EMIT reachedEnd();
        if (m_playMode == Repeat) {
            // Stopped at the end, the position lies at the begin point again.
            m_engine->Play();
            updateControls();
        } else if (m_playMode == Continuous) {
            if (m_host && m_host->SelectNextRecording())
                OnPlay();
        }
        updateControls();
    }
    Q_EMIT positionChanged();
    Q_EMIT displayChanged();
    scheduleNextSecond();
    // One tick after playing stopped shows where it stopped; then the tick rests.
    if (m_engine->m_state != CMp3Ctrl::Playing)
        m_timer.stop();
}

void PlaybackSession::onGraphNotify()
{
    if (!m_engine->DrainEvents())
        return;
    // The end is acted on as it is heard, not at the next tick.
    m_endReached = true;
    OnTimer();
}

// ---- Seeking -------------------------------------------------------------------------

void PlaybackSession::seekToSecond(int second, bool restore)
{
    // A seek made just after the end was reached is no end any more.
    m_endReached = false;
    if (!m_engine->IsOpen())
        return;
    if (!m_seeking) {
        m_stateBeforeSeek = m_engine->m_state;
        m_seeking = true;
        m_engine->Pause();
    }
    // Never the end point itself, which would end playback there and then.
    uint32_t target = uint32_t(std::max(second, 0));
    if (target >= m_end)
        target = m_end > 0 ? m_end - 1 : 0;
    m_engine->SetPosition(target);
    if (!restore)
        return;
    if (m_stateBeforeSeek == CMp3Ctrl::Playing)
        m_engine->Play();
    else if (m_engine->GetPosition() <= m_begin)
        m_engine->Stop();
    else
        m_engine->Pause();
}

void PlaybackSession::settle()
{
    updateControls();
    Q_EMIT displayChanged();
    scheduleNextSecond();
}

uint64_t PlaybackSession::positionMilliseconds()
{
    // Playing or paused, the millisecond heard (a jump lands between seconds); stopped, the second shown.
    return m_engine->m_state != CMp3Ctrl::Stopped && m_engine->IsOpen() ? m_engine->GetPositionMilliseconds()
                                                                         : uint64_t(m_position) * 1000;
}

void PlaybackSession::jumpTo(uint64_t milliseconds)
{
    m_endReached = false;
    m_engine->SeekMilliseconds(milliseconds);
    OnTimer();
}

// ---- The section and the index marks ----------------------------------------------------

void PlaybackSession::setSection(uint32_t begin, uint32_t end)
{
    if (begin != m_begin || end != m_end)
        applySection(begin, end);
}

void PlaybackSession::moveBeginTo(uint32_t second)
{
    const uint32_t begin = BeginMovedTo(second, m_end);
    if (begin != m_begin)
        applySection(begin, m_end);
}

void PlaybackSession::moveEndTo(uint32_t second)
{
    const uint32_t end = EndMovedTo(second, m_begin);
    if (end != m_end && end <= m_duration)
        applySection(m_begin, end);
}

void PlaybackSession::applySection(uint32_t begin, uint32_t end)
{
    m_begin = begin;
    m_end = end;
    m_endReached = false;
    Q_EMIT sectionChanged();
    m_engine->SetRange(m_begin, m_end);
    if (m_begin < m_engine->GetPosition()) {
        m_engine->SetPosition(m_begin);
        followEngine();
        Q_EMIT positionChanged();
        Q_EMIT displayChanged();
    }
}

void PlaybackSession::markChanged()
{
    refreshFocusedRow();
    m_headerDirty = true;
    Q_EMIT headerChanged();
    Q_EMIT marksChanged();
    Q_EMIT displayChanged();
}

void PlaybackSession::setMarks(const IndexMarks& marks)
{
    storeMarks(marks);
    markChanged();
}

void PlaybackSession::toggleMarkHeard()
{
    followEngine();
    storeMarks(ToggleMark(marks(), m_position));
    markChanged();
}

void PlaybackSession::moveMark(int slot, uint32_t second)
{
    if (slot < 0 || slot >= kIndexMarkCount)
        return;
    IndexMarks slots = marks();
    slots[size_t(slot)] = second;
    storeMarks(slots);
    Q_EMIT marksChanged();
}

void PlaybackSession::dropMarks()
{
    // A flag dropped at the far left (second 0) is deleted by this.
    IndexMarks slots = marks();
    NormalizeIndexMarks(slots);
    storeMarks(slots);
    markChanged();
}

// ---- The memo -------------------------------------------------------------------------------

void PlaybackSession::storeMemo(const QString& text)
{
    if (text == m_memoAsRead) {
        // Back to the memo as read: its bytes as they were.
        std::memcpy(m_header.memo, m_headerAsRead.memo, sizeof m_header.memo);
        return;
    }
    const Cp932Encoding encoded = UnicodeToCp932(StoredMemo(text), kMemoBytes);
    if (!encoded.ok())
        return;
    std::memset(m_header.memo, 0, sizeof m_header.memo);
    std::memcpy(m_header.memo, encoded.bytes.constData(), size_t(encoded.bytes.size()));
}

void PlaybackSession::setMemoAsShown(const QString& text)
{
    m_memo = text;
    m_memoAsRead = text;
}

void PlaybackSession::editMemo(const QString& text, bool always)
{
    if (!always && text == m_memo)
        return;
    storeMemo(text);
    m_memo = text;
    refreshRow(m_rowNumber - 1);
    m_headerDirty = true;
    Q_EMIT headerChanged();
}

void PlaybackSession::noteMemoBox(const QString& text)
{
    if (!loaded() || m_headerDirty || text == m_memo)
        return;
    storeMemo(text);
    refreshRow(m_rowNumber - 1);
    m_headerDirty = true;
    Q_EMIT headerChanged();
}
