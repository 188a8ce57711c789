#include "LevelEnvelope.h"

#include <algorithm>
#include <cmath>

uint8_t LevelEnvelope::LevelCode(float amplitude)
{
    if (!(amplitude > 0.0f))
        return 0;
    const double code = std::round(2.0 * (20.0 * std::log10(double(amplitude)) + 127.5));
    return uint8_t(std::clamp(code, 0.0, 255.0));
}

float LevelEnvelope::Amplitude(uint8_t code)
{
    return code == 0 ? 0.0f : float(std::pow(10.0, Decibels(code) / 20.0));
}

namespace {

// The frame that ends a bucket: buckets of a rate that is no multiple of 100
// (22050 Hz) take turns at one frame more or less.
int64_t bucketEnd(int64_t bucket, int sampleRate)
{
    return (bucket + 1) * sampleRate * LevelEnvelope::kBucketMilliseconds / 1000;
}

} // namespace

EnvelopeAccumulator::EnvelopeAccumulator(LevelEnvelope& envelope, int sampleRate, int channels)
    : m_envelope(envelope), m_channels(std::max(channels, 1)), m_channelScale(1.0f / float(std::max(channels, 1)))
{
    m_envelope.sampleRate = sampleRate;
    m_envelope.frames = 0;
    m_envelope.levels.clear();
    m_bucketEnd = bucketEnd(0, sampleRate);
}

void EnvelopeAccumulator::add(const float* frames, int64_t count)
{
    for (int64_t i = 0; i < count; ++i) {
        float mono;
        if (m_channels == 1) {
            mono = frames[i];
        } else {
            mono = 0;
            for (int c = 0; c < m_channels; ++c)
                mono += frames[i * m_channels + c];
            mono *= m_channelScale;
        }
        m_peak = std::max(m_peak, std::fabs(mono));
        m_squares += double(mono) * double(mono);
        ++m_inBucket;
        if (++m_frame == m_bucketEnd)
            closeBucket();
    }
    m_envelope.frames = m_frame;
}

void EnvelopeAccumulator::finish()
{
    if (m_inBucket > 0)
        closeBucket();
    m_envelope.frames = m_frame;
}

void EnvelopeAccumulator::closeBucket()
{
    const float rms = float(std::sqrt(m_squares / double(std::max<int64_t>(m_inBucket, 1))));
    m_envelope.levels.push_back(LevelEnvelope::LevelCode(m_peak));
    m_envelope.levels.push_back(LevelEnvelope::LevelCode(rms));
    m_peak = 0;
    m_squares = 0;
    m_inBucket = 0;
    m_bucketEnd = bucketEnd(m_envelope.buckets(), m_envelope.sampleRate);
}
