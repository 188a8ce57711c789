#pragma once

#include "AudioOutput.h"

#include <QThread>
#include <atomic>

class SinkWorker;

// A QAudioSink on the default output device (PulseAudio or PipeWire underneath),
// living in a thread of its own.
class QtAudioOutput final : public AudioOutput
{
    Q_OBJECT

public:
    QtAudioOutput();
    ~QtAudioOutput() override;

    bool open(int sampleRate, int channels, PcmSource* source, QString* error) override;
    void close() override;
    bool start() override;
    void suspend() override;
    void stop() override;
    int64_t pulledFrames() const override;
    int64_t heardFrames() const override;

    // True when the system has an audio output device.
    static bool hasOutputDevice();

private:
    QThread m_thread;
    SinkWorker* m_worker = nullptr;
};
