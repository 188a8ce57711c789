#pragma once

#include "Mp3Decoder.h"
#include "platform/AudioOutput.h"

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace soundtouch {
class SoundTouch;
}

// The engine's PCM: the decoder's samples up to the end of the playable
// section, stretched in time with the pitch kept when the tempo is not 1, with
// the volume applied. Read by the output's thread, steered from the UI thread.
class PlaybackSource final : public PcmSource
{
public:
    PlaybackSource();
    ~PlaybackSource() override;

    bool open(const QString& path, DecodeFailure* failure);
    void close();
    bool isOpen() const;
    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }

    // Output frames produced so far count on; the next frame read is the given
    // media frame (clamped at 0).
    void seek(int64_t mediaFrame);
    // Reading ends at this media frame.
    void setEnd(int64_t mediaFrame);
    void setTempo(double tempo);
    double tempo() const;
    void setGain(float gain);

    // The media frame that the output frame with this index (counted since open)
    // came from.
    int64_t mediaFrameAt(int64_t outputFrame) const;

    int64_t read(int16_t* frames, int64_t count) override;
    bool atEnd() const override;

private:
    struct Segment
    {
        int64_t outputStart;
        int64_t mediaStart;
        double tempo;
    };
    void seekLocked(int64_t mediaFrame);
    int64_t mediaFrameAtLocked(int64_t outputFrame) const;
    void writeOutput(const float* samples, int64_t frames, int16_t* out);

    mutable std::mutex m_mutex;
    Mp3Decoder m_decoder;
    std::unique_ptr<soundtouch::SoundTouch> m_stretch;
    std::vector<float> m_scratch;
    std::deque<Segment> m_segments;
    int m_rate = 0;
    int m_channels = 0;
    double m_tempo = 1.0;
    float m_gain = 1.0f;
    int64_t m_end = 0;
    int64_t m_produced = 0;
    bool m_inputEnded = false;
    bool m_atEnd = false;
};
