#pragma once

#include "platform/AudioOutput.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class PlaybackSource;

// Plays one recording at a time for the control panel: open, play, pause,
// stop, whole-second seeks, a playable section whose end stops playback with a
// completion notice, three speeds with the voice's pitch kept, and a volume.
// All calls come from the thread the engine lives on (the UI thread); the end
// of playback reaches that thread as graphNotify(), after which DrainEvents()
// tells whether playback completed.
class CMp3Ctrl : public QObject
{
    Q_OBJECT

public:
    enum PlayerState { Stopped = 1, Playing = 2, Paused = 3 };
    enum PlaySpeed { Fast = 0, Normal = 1, Slow = 2 };

    // The output comes from the factory for each file (the default device when
    // none is given).
    explicit CMp3Ctrl(AudioOutputFactory outputFactory = {}, QObject* parent = nullptr);
    ~CMp3Ctrl() override;

    // Opens a file for playing. m_duration is the file's length whatever happens;
    // false when the file cannot be decoded (the user is told) or there is no audio
    // output (g_bNoAudioOutput is set; Play tells the user).
    bool Open(const QString& path);
    void Close();
    bool Play();
    void Stop();
    void Pause();
    void SetPosition(uint64_t seconds);
    uint64_t GetPosition();
    // The position heard, in milliseconds of the recording, raised to the begin; also
    // refreshes m_position.
    uint64_t GetPositionMilliseconds();
    void SetRange(uint64_t begin, uint64_t end);
    // One of the three preset speeds; its tempo replaces any other rate.
    void SetSpeed(int speed);
    // Any tempo (1.0 the recording's own speed), the voice's pitch kept.
    void SetTempo(double tempo);
    // A jump to a millisecond of the playable section (clamped to it): the output
    // drops what it holds and goes on from there when it was playing.
    void SeekMilliseconds(uint64_t milliseconds);
    // How far StepBack and StepForward go.
    void SetStepSizes(int backSeconds, int forwardSeconds);
    void SetVolume(uint32_t percent);
    void StepBack();
    void StepForward();
    bool DrainEvents();
    // The open recording's length as the decoder gives it, in microseconds (the frame reader's
    // measure: the library's own is guessed from the file's size, tag bytes included), known
    // whether or not anything can be played; 0 when no recording was chosen.
    int64_t LengthMicroseconds() const;
    // Whether a file is open for playing (Open succeeded and Close has not run since).
    bool IsOpen() const { return hasGraph(); }

    // The attenuation in hundredths of a decibel for a volume in percent.
    static int Attenuation(uint32_t percent);
    static double Tempo(int speed);

    PlayerState m_state = Stopped;
    int m_speed = Normal;
    double m_tempo = 1.0;
    int m_backStep = 3;
    int m_forwardStep = 3;
    uint32_t m_volume = 50;
    uint64_t m_duration = 0;
    uint64_t m_begin = 0;
    uint64_t m_end = 0;
    uint64_t m_position = 0;
    int64_t m_measuredMicroseconds = 0; // the frame reader's length of the open file

Q_SIGNALS:
    // Events of the open recording are queued (stands for the graph's 0x8100).
    void graphNotify();
    // m_state took another value (Play, Pause, Stop, Open).
    void stateChanged();

private:
    bool hasGraph() const { return m_output != nullptr; }
    void setState(PlayerState state);
    // Seeks to a second: the output drops what it holds and goes on from there
    // when it was playing.
    void seekTo(int64_t seconds) { seekToMilliseconds(seconds * 1000); }
    void seekToMilliseconds(int64_t milliseconds);
    void applyTempo();
    void onDrained(uint64_t generation);

    AudioOutputFactory m_outputFactory;
    std::unique_ptr<PlaybackSource> m_source;
    std::unique_ptr<AudioOutput> m_output;
    bool m_outputRunning = false;
    // Each open file is a generation; notices of earlier ones are ignored.
    uint64_t m_generation = 0;
    std::mutex m_eventsMutex;
    std::vector<uint64_t> m_completions; // generations whose playback completed
};
