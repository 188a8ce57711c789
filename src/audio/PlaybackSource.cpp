#include "PlaybackSource.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <soundtouch/SoundTouch.h>

namespace {

constexpr int64_t kChunkFrames = 2048;
constexpr size_t kMaxSegments = 64;

} // namespace

PlaybackSource::PlaybackSource() : m_stretch(std::make_unique<soundtouch::SoundTouch>()) {}

PlaybackSource::~PlaybackSource() = default;

bool PlaybackSource::open(const QString& path, DecodeFailure* failure)
{
    std::lock_guard lock(m_mutex);
    if (!m_decoder.open(path, failure))
        return false;
    m_rate = m_decoder.sampleRate();
    m_channels = m_decoder.channels();
    m_stretch->setSampleRate(uint(m_rate));
    m_stretch->setChannels(uint(m_channels));
    m_stretch->setTempo(m_tempo);
    m_stretch->clear();
    m_scratch.assign(size_t(kChunkFrames * m_channels), 0.0f);
    m_end = std::numeric_limits<int64_t>::max();
    m_produced = 0;
    m_segments = {{0, 0, m_tempo}};
    m_inputEnded = false;
    m_atEnd = false;
    return true;
}

void PlaybackSource::close()
{
    std::lock_guard lock(m_mutex);
    m_decoder.close();
    m_stretch->clear();
    m_atEnd = true;
}

bool PlaybackSource::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_decoder.isOpen();
}

void PlaybackSource::seek(int64_t mediaFrame)
{
    std::lock_guard lock(m_mutex);
    seekLocked(mediaFrame);
}

void PlaybackSource::seekLocked(int64_t mediaFrame)
{
    const int64_t reached = m_decoder.seek(std::max<int64_t>(mediaFrame, 0));
    m_stretch->clear();
    m_inputEnded = false;
    m_atEnd = !m_decoder.isOpen();
    m_segments.push_back({m_produced, reached, m_tempo});
    while (m_segments.size() > kMaxSegments)
        m_segments.pop_front();
}

void PlaybackSource::setEnd(int64_t mediaFrame)
{
    std::lock_guard lock(m_mutex);
    m_end = mediaFrame;
}

void PlaybackSource::setTempo(double tempo)
{
    std::lock_guard lock(m_mutex);
    if (tempo == m_tempo)
        return;
    // Carry on from the frame the output has reached, at the new tempo: what
    // is still inside the stretcher belongs to the old one.
    const int64_t now = mediaFrameAtLocked(m_produced);
    m_tempo = tempo;
    m_stretch->setTempo(tempo);
    if (m_decoder.isOpen())
        seekLocked(now);
}

double PlaybackSource::tempo() const
{
    std::lock_guard lock(m_mutex);
    return m_tempo;
}

void PlaybackSource::setGain(float gain)
{
    std::lock_guard lock(m_mutex);
    m_gain = gain;
}

int64_t PlaybackSource::mediaFrameAt(int64_t outputFrame) const
{
    std::lock_guard lock(m_mutex);
    return mediaFrameAtLocked(outputFrame);
}

int64_t PlaybackSource::mediaFrameAtLocked(int64_t outputFrame) const
{
    // Everything produced has been played out: the output stands where the input ended
    // (the stretcher's last block need not be exactly the tempo's share).
    if (m_atEnd && outputFrame >= m_produced)
        return std::min(m_decoder.position(), m_end);
    const Segment* segment = &m_segments.front();
    for (const Segment& candidate : m_segments) {
        if (candidate.outputStart <= outputFrame)
            segment = &candidate;
    }
    const int64_t media = segment->mediaStart
                          + int64_t(std::floor(double(std::max<int64_t>(outputFrame - segment->outputStart, 0)) * segment->tempo));
    // The output cannot be further than what was decoded, nor past the section's end.
    return std::min({media, std::max(m_decoder.position(), segment->mediaStart), std::max(m_end, segment->mediaStart)});
}

void PlaybackSource::writeOutput(const float* samples, int64_t frames, int16_t* out)
{
    const int64_t count = frames * m_channels;
    for (int64_t i = 0; i < count; ++i)
        out[i] = int16_t(std::lround(std::clamp(samples[i] * m_gain, -1.0f, 1.0f) * 32767.0f));
}

int64_t PlaybackSource::read(int16_t* frames, int64_t count)
{
    std::lock_guard lock(m_mutex);
    int64_t done = 0;
    while (done < count && !m_atEnd) {
        int16_t* out = frames + done * m_channels;
        if (m_tempo == 1.0) {
            const int64_t limit = std::min({count - done, kChunkFrames, m_end - m_decoder.position()});
            const int64_t got = limit > 0 ? m_decoder.read(m_scratch.data(), limit) : 0;
            if (got == 0) {
                m_atEnd = true;
                break;
            }
            writeOutput(m_scratch.data(), got, out);
            done += got;
            continue;
        }
        if (m_stretch->numSamples() > 0) {
            const uint want = uint(std::min(count - done, kChunkFrames));
            const uint got = m_stretch->receiveSamples(m_scratch.data(), want);
            writeOutput(m_scratch.data(), got, out);
            done += got;
            continue;
        }
        if (m_inputEnded) {
            m_atEnd = true;
            break;
        }
        const int64_t limit = std::min(kChunkFrames, m_end - m_decoder.position());
        const int64_t got = limit > 0 ? m_decoder.read(m_scratch.data(), limit) : 0;
        if (got > 0) {
            m_stretch->putSamples(m_scratch.data(), uint(got));
        } else {
            m_stretch->flush();
            m_inputEnded = true;
        }
    }
    m_produced += done;
    return done;
}

bool PlaybackSource::atEnd() const
{
    std::lock_guard lock(m_mutex);
    return m_atEnd;
}
