#pragma once

#include "platform/AudioOutput.h"

#include <QString>
#include <vector>

// An audio output on a virtual clock: nothing is heard until the test advances
// time. Like a sound server, it can hold a buffer: it then pulls that many
// frames ahead of what has been heard, and a frame is heard only once the
// clock has passed it.
class VirtualAudioOutput final : public AudioOutput
{
    Q_OBJECT

public:
    bool available = true; // false: behaves like a machine without audio output
    double bufferSeconds = 0; // how far the output pulls ahead of what is heard

    bool open(int sampleRate, int channels, PcmSource* source, QString* error) override;
    void close() override { m_source = nullptr; }
    bool start() override;
    void suspend() override { m_suspended = true; }
    void stop() override;
    int64_t pulledFrames() const override { return m_pulled; }
    int64_t heardFrames() const override { return m_heard; }

    // Plays this much output time (when started and not suspended). Returns the
    // frames heard; emits drained() once the source has ended and all it gave
    // has been heard.
    int64_t advance(double seconds);
    // Everything heard since open, interleaved.
    const std::vector<int16_t>& played() const { return m_played; }
    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }
    bool isRunning() const { return m_running && !m_suspended; }

private:
    // Pulls from the source until the buffer holds the given frames beyond what was heard.
    void fill(int64_t aheadOfHeard);

    PcmSource* m_source = nullptr;
    int m_rate = 0;
    int m_channels = 0;
    bool m_running = false;
    bool m_suspended = false;
    bool m_drainReported = false;
    int64_t m_pulled = 0;
    int64_t m_heard = 0;
    std::vector<int16_t> m_buffered; // pulled, not yet heard
    std::vector<int16_t> m_played;
};
