// The playback session as keys, pedals, the menu and the media controls drive it,
// and skipping silence while it plays.

#include "PlaybackSession.h"

#include "RecordingPanel.h"
#include "analysis/RecordingAnalysis.h"
#include "transport/PlaybackRate.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

// ---- The transport target ------------------------------------------------------

void PlaybackSession::applyTransportSettings(const TransportSettings& settings)
{
    m_transportSettings = settings;
    m_engine->SetStepSizes(settings.backSkipSeconds, settings.forwardSkipSeconds);
}

TransportTarget::State PlaybackSession::transportState() const
{
    return loaded() ? State(m_engine->m_state) : NothingLoaded;
}

bool PlaybackSession::canRunTransport(TransportAction action) const
{
    const bool one = m_selectedCount == 1 && m_controlsAllowed && loaded() && playable();
    const double rate = m_engine->m_tempo;
    switch (action) {
    case TransportAction::PlayPause:
        return allows(Control::Play) || allows(Control::Pause);
    case TransportAction::Stop:
        return allows(Control::Stop);
    case TransportAction::StepBack:
        return allows(Control::FastBack);
    case TransportAction::StepForward:
        return allows(Control::FastForward);
    case TransportAction::PreviousIndex:
        return allows(Control::SkipBack);
    case TransportAction::NextIndex:
        return allows(Control::SkipForward);
    case TransportAction::Replay:
    case TransportAction::PlayWhileHeld:
        return one;
    case TransportAction::Faster:
        return rate < kMaxPlaybackRate;
    case TransportAction::Slower:
        return rate > kMinPlaybackRate;
    case TransportAction::NormalSpeed:
        return rate != 1.0;
    case TransportAction::None:
        break;
    }
    return false;
}

void PlaybackSession::runTransport(TransportAction action)
{
    if (!canRunTransport(action))
        return;
    switch (action) {
    case TransportAction::PlayPause:
    case TransportAction::PlayWhileHeld:
        if (m_engine->m_state == CMp3Ctrl::Playing)
            OnPause();
        else
            OnPlay();
        return;
    case TransportAction::Stop:
        OnStop();
        return;
    case TransportAction::StepBack:
        OnFastBack();
        break;
    case TransportAction::StepForward:
        OnFastForward();
        break;
    case TransportAction::PreviousIndex:
        OnSkipBack();
        break;
    case TransportAction::NextIndex:
        OnSkipForward();
        break;
    case TransportAction::Replay:
        OnReplay();
        break;
    case TransportAction::Faster:
        setTransportRate(StepPlaybackRate(m_engine->m_tempo, m_transportSettings.speedStep, 1));
        return;
    case TransportAction::Slower:
        setTransportRate(StepPlaybackRate(m_engine->m_tempo, m_transportSettings.speedStep, -1));
        return;
    case TransportAction::NormalSpeed:
        setTransportRate(1.0);
        return;
    case TransportAction::None:
        return;
    }
    // The position jumped.
    Q_EMIT m_notifier.seeked(transportPosition());
}

void PlaybackSession::transportPlay()
{
    if (allows(Control::Play))
        OnPlay();
}

void PlaybackSession::transportPause()
{
    if (m_engine->m_state == CMp3Ctrl::Playing)
        OnPause();
}

qint64 PlaybackSession::transportPosition()
{
    return m_engine->IsOpen() ? qint64(m_engine->GetPositionMilliseconds()) : 0;
}

void PlaybackSession::transportSeek(qint64 milliseconds)
{
    if (!m_engine->IsOpen() || !loaded())
        return;
    jumpTo(uint64_t(std::max<qint64>(milliseconds, 0)));
    Q_EMIT m_notifier.seeked(transportPosition());
}

void PlaybackSession::transportNextRecording()
{
    if (!loaded())
        return;
    const bool playing = m_engine->m_state == CMp3Ctrl::Playing;
    if (m_host && m_host->SelectNextRecording()) {
        if (playing)
            OnPlay();
    } else {
        OnStop();
    }
}

void PlaybackSession::setTransportRate(double rate)
{
    rate = ClampPlaybackRate(rate);
    if (rate == m_engine->m_tempo)
        return;
    if (m_engine->m_state == CMp3Ctrl::Playing && m_engine->IsOpen()) {
        // Playing goes on from the moment heard, at the new rate.
        const uint64_t heard = m_engine->GetPositionMilliseconds();
        m_engine->SetTempo(rate);
        m_engine->SeekMilliseconds(heard);
    } else {
        m_engine->SetTempo(rate);
    }
    Q_EMIT rateChanged();
    scheduleNextSecond();
    Q_EMIT m_notifier.rateChanged();
}

void PlaybackSession::setTransportVolume(double volume)
{
    if (std::isnan(volume))
        return;
    setVolume(int(std::lround(std::clamp(volume, 0.0, 1.0) * 100)));
}

TransportTrack PlaybackSession::transportTrack() const
{
    TransportTrack track;
    if (!loaded())
        return track;
    track.path = m_path;
    track.title = QFileInfo(m_path).fileName();
    const int64_t decoded = m_engine->LengthMicroseconds();
    track.lengthMicroseconds = decoded > 0 ? decoded : qint64(m_duration) * 1000000;
    track.memo = m_memo;
    track.recordedAt = QDateTime::fromSecsSinceEpoch(m_fileTime);
    return track;
}

// ---- Skipping silence ----------------------------------------------------------------

void PlaybackSession::setSkipSilence(bool skip)
{
    if (skip == m_analysisSettings.skipSilence)
        return;
    m_analysisSettings.skipSilence = skip;
    m_analysisSettings.save();
    if (!skip)
        m_silenceTimer.stop();
    Q_EMIT skipSilenceChanged(skip);
    skipSilenceIfDue();
}

void PlaybackSession::setOverviewShown(bool shown)
{
    if (shown == m_analysisSettings.showOverview)
        return;
    m_analysisSettings.showOverview = shown;
    m_analysisSettings.save();
}

void PlaybackSession::setSilenceOptions(const SilenceOptions& options)
{
    m_analysisSettings.silence = options;
    m_analysisSettings.save();
    if (m_analysis->isComplete())
        onEnvelopeCompleted();
}

void PlaybackSession::onEnvelopeCompleted()
{
    m_silences = FindSilences(m_analysis->envelope(), m_analysisSettings.silence);
    Q_EMIT silencesChanged();
    skipSilenceIfDue();
}

void PlaybackSession::skipSilenceIfDue()
{
    if (!m_analysisSettings.skipSilence || m_silences.empty() || m_seeking
        || m_engine->m_state != CMp3Ctrl::Playing) {
        m_silenceTimer.stop();
        return;
    }
    // Marks and the section end are never jumped over.
    std::vector<int64_t> stops{int64_t(m_end) * 1000};
    for (const uint32_t mark : marks()) {
        if (mark != kEmptyIndexMark)
            stops.push_back(int64_t(mark) * 1000);
    }
    int64_t at = int64_t(m_engine->GetPositionMilliseconds());
    if (const std::optional<int64_t> target =
            SkipTarget(m_silences, at, stops, m_analysisSettings.silence.leadInMilliseconds)) {
        m_engine->SeekMilliseconds(uint64_t(*target));
        at = int64_t(m_engine->GetPositionMilliseconds());
    }
    // Wake up as the next silence begins rather than at the tick after it.
    const auto next = std::find_if(m_silences.begin(), m_silences.end(),
                                   [at](const Silence& silence) { return silence.startMilliseconds > at; });
    if (next == m_silences.end()) {
        m_silenceTimer.stop();
        return;
    }
    const int due = int(double(next->startMilliseconds - at) / CMp3Ctrl::Tempo(m_engine->m_speed)) + 1;
    if (due < kTimerMilliseconds)
        m_silenceTimer.start(due, Qt::PreciseTimer, this);
}

void PlaybackSession::GoToSilenceBoundary(bool forward)
{
    if (!loaded() || !m_engine->IsOpen() || m_selectedCount != 1 || !m_controlsAllowed)
        return;
    const int64_t at = int64_t(positionMilliseconds());
    const int64_t leadIn = m_analysisSettings.silence.leadInMilliseconds;
    const std::optional<int64_t> boundary =
        forward ? NextSilenceBoundary(m_silences, at, leadIn) : PreviousSilenceBoundary(m_silences, at, leadIn);
    // Within the section, never its end point itself (which would end playback there).
    if (!boundary || *boundary < int64_t(m_begin) * 1000 || *boundary >= int64_t(m_end) * 1000)
        return;
    m_endReached = false;
    // As a seek of the slider: stopped, the recording pauses at the place.
    if (m_engine->m_state == CMp3Ctrl::Stopped)
        m_engine->Pause();
    m_engine->SeekMilliseconds(uint64_t(*boundary));
    followEngine();
    Q_EMIT positionChanged();
    settle();
}
