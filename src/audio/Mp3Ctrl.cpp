#include "Mp3Ctrl.h"

#include "PlaybackSource.h"
#include "platform/MessageBoxes.h"
#include "platform/QtAudioOutput.h"
#include "platform/SystemErrorText.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"

#include <QDebug>
#include <algorithm>
#include <cmath>

namespace {

const QString kNoOutputOnPlay = QStringLiteral("音声出力先が存在しないため再生できません。環境を確認してください。");
const QString kUnreadableFile = QStringLiteral("ファイル解析時エラーが発生しました。このファイルは再生できません。");
const QString kPlayFailed = QStringLiteral("再生に失敗しました");

} // namespace

CMp3Ctrl::CMp3Ctrl(AudioOutputFactory outputFactory, QObject* parent)
    : QObject(parent), m_outputFactory(std::move(outputFactory))
{
    if (!m_outputFactory)
        m_outputFactory = [] { return std::make_unique<QtAudioOutput>(); };
}

CMp3Ctrl::~CMp3Ctrl()
{
    if (m_state != Stopped)
        Stop();
    Close();
}

int CMp3Ctrl::Attenuation(uint32_t percent)
{
    if (percent == 0)
        return -10000;
    return int(std::trunc(2000.0f * std::log10(float(percent) / 100.0f)));
}

double CMp3Ctrl::Tempo(int speed)
{
    switch (speed) {
    case Fast:
        return 1.5;
    case Slow:
        return 0.75;
    default:
        return 1.0;
    }
}

bool CMp3Ctrl::Open(const QString& path)
{
    setState(Stopped);
    Close();
    ++m_generation;
    // The length is the file's own, read from its frames: it is known whether or not
    // anything can be played. Without an audio output PLAY says why it cannot play.
    RecordingFile measured;
    const bool readable = measured.open(path, RecordingFile::Access::Read);
    m_duration = readable ? MeasureMp3Duration(measured) : 0;
    m_measuredMicroseconds = readable ? MeasureMp3Microseconds(measured) : 0;
    m_begin = 0;
    m_end = m_duration;
    if (g_bNoAudioOutput)
        return false;

    auto source = std::make_unique<PlaybackSource>();
    DecodeFailure failure;
    if (!source->open(path, &failure)) {
        // The decoder's words are English and technical: they go to the log. The user
        // is told why only when the file itself could not be opened, in Japanese.
        qWarning().noquote() << "cannot decode" << path << ":" << failure.decoderText;
        ShowMessage(failure.systemError ? kUnreadableFile + u'\n' + SystemErrorText(failure.systemError)
                                        : kUnreadableFile,
                    MessageIcon::Error);
        return false;
    }
    QString reason;
    std::unique_ptr<AudioOutput> output = m_outputFactory();
    if (!output || !output->open(source->sampleRate(), source->channels(), source.get(), &reason)) {
        qWarning().noquote() << "no audio output:" << reason;
        g_bNoAudioOutput = true;
        return false;
    }
    const uint64_t generation = m_generation;
    connect(output.get(), &AudioOutput::drained, this, [this, generation] { onDrained(generation); },
            Qt::QueuedConnection);
    m_source = std::move(source);
    m_output = std::move(output);
    m_outputRunning = false;
    SetVolume(m_volume);
    applyTempo();
    return true;
}

void CMp3Ctrl::Close()
{
    if (m_output) {
        m_output->stop();
        m_output->close();
    }
    m_output.reset();
    if (m_source)
        m_source->close();
    m_source.reset();
    m_outputRunning = false;
    m_duration = 0;
    m_measuredMicroseconds = 0;
}

void CMp3Ctrl::setState(PlayerState state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

bool CMp3Ctrl::Play()
{
    if (g_bNoAudioOutput) {
        ShowMessage(kNoOutputOnPlay, MessageIcon::Error);
        return false;
    }
    if (!hasGraph()) {
        setState(Playing);
        return true;
    }
    applyTempo();
    if (m_position <= m_begin)
        SetPosition(m_begin);
    if (!m_outputRunning || m_state != Playing) {
        if (!m_output->start()) {
            ShowMessage(kPlayFailed, MessageIcon::Error);
            setState(Stopped);
            return false;
        }
        m_outputRunning = true;
    }
    setState(Playing);
    return true;
}

void CMp3Ctrl::Stop()
{
    if (hasGraph()) {
        m_output->stop();
        m_outputRunning = false;
        m_source->seek(0);
    }
    m_position = 0;
    setState(Stopped);
}

void CMp3Ctrl::Pause()
{
    if (hasGraph() && m_outputRunning)
        m_output->suspend();
    setState(Paused);
}

void CMp3Ctrl::seekToMilliseconds(int64_t milliseconds)
{
    // Drop what the output holds so that the new position is heard at once.
    m_output->stop();
    milliseconds = std::max<int64_t>(milliseconds, 0);
    m_position = uint64_t(milliseconds / 1000);
    m_source->seek(milliseconds * m_source->sampleRate() / 1000);
    if (m_outputRunning && m_state == Playing)
        m_output->start();
    else
        m_outputRunning = false;
}

int64_t CMp3Ctrl::LengthMicroseconds() const
{
    return m_measuredMicroseconds;
}

void CMp3Ctrl::SetPosition(uint64_t seconds)
{
    if (hasGraph() && m_begin <= seconds && seconds <= m_end)
        seekTo(int64_t(seconds));
}

uint64_t CMp3Ctrl::GetPosition()
{
    return GetPositionMilliseconds() / 1000;
}

uint64_t CMp3Ctrl::GetPositionMilliseconds()
{
    uint64_t milliseconds = m_position * 1000;
    if (hasGraph()) {
        // What the output has played, not what it was handed: the difference is the
        // sound server's buffer.
        const int64_t frame = std::max<int64_t>(m_source->mediaFrameAt(m_output->heardFrames()), 0);
        milliseconds = uint64_t(frame * 1000 / m_source->sampleRate());
    }
    milliseconds = std::max(milliseconds, m_begin * 1000);
    m_position = milliseconds / 1000;
    return milliseconds;
}

void CMp3Ctrl::SetRange(uint64_t begin, uint64_t end)
{
    m_begin = begin;
    m_end = end;
    if (!hasGraph())
        return;
    m_source->setEnd(int64_t(end) * m_source->sampleRate());
    seekTo(int64_t(std::max(GetPosition(), begin)));
}

void CMp3Ctrl::SetSpeed(int speed)
{
    m_speed = speed;
    if (speed >= Fast && speed <= Slow)
        m_tempo = Tempo(speed);
    applyTempo();
}

void CMp3Ctrl::SetTempo(double tempo)
{
    if (!(tempo > 0))
        return;
    m_tempo = tempo;
    m_speed = tempo == Tempo(Fast) ? Fast : tempo == Tempo(Slow) ? Slow : Normal;
    applyTempo();
}

void CMp3Ctrl::applyTempo()
{
    if (!hasGraph() || m_source->tempo() == m_tempo)
        return;
    if (!m_outputRunning) {
        m_source->setTempo(m_tempo);
        return;
    }
    // What the output holds was made at the old speed: drop it and go on from the frame
    // heard, so that the new speed is heard at once (as a seek is).
    const int64_t heard = std::max<int64_t>(m_source->mediaFrameAt(m_output->heardFrames()), 0);
    m_output->stop();
    m_source->setTempo(m_tempo);
    m_source->seek(heard);
    if (m_state == Playing)
        m_output->start();
    else
        m_outputRunning = false;
}

void CMp3Ctrl::SeekMilliseconds(uint64_t milliseconds)
{
    if (!hasGraph())
        return;
    // Never the end point itself, which would end playback there and then.
    const uint64_t last = m_end > m_begin ? m_end * 1000 - 1 : m_begin * 1000;
    seekToMilliseconds(int64_t(std::clamp(milliseconds, m_begin * 1000, last)));
}

void CMp3Ctrl::SetStepSizes(int backSeconds, int forwardSeconds)
{
    m_backStep = std::max(backSeconds, 1);
    m_forwardStep = std::max(forwardSeconds, 1);
}

void CMp3Ctrl::SetVolume(uint32_t percent)
{
    if (percent <= 100)
        m_volume = percent;
    if (!hasGraph())
        return;
    const int attenuation = Attenuation(m_volume);
    m_source->setGain(attenuation <= -10000 ? 0.0f : float(std::pow(10.0, attenuation / 2000.0)));
}

// A step goes from the second heard now, not from the one last read.
void CMp3Ctrl::StepBack()
{
    if (hasGraph())
        seekTo(int64_t(GetPosition()) - m_backStep);
}

void CMp3Ctrl::StepForward()
{
    if (hasGraph())
        seekTo(int64_t(GetPosition()) + m_forwardStep);
}

void CMp3Ctrl::onDrained(uint64_t generation)
{
    {
        std::lock_guard lock(m_eventsMutex);
        m_completions.push_back(generation);
    }
    Q_EMIT graphNotify();
}

bool CMp3Ctrl::DrainEvents()
{
    std::lock_guard lock(m_eventsMutex);
    const bool completed = hasGraph()
                           && std::find(m_completions.begin(), m_completions.end(), m_generation) != m_completions.end();
    m_completions.clear();
    return completed;
}
