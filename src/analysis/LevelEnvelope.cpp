#include "LevelEnvelope.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The amplitudes where one code gives way to the next (halfway between two codes'
// levels in decibels): a code is found by a search instead of a logarithm for
// every 10 ms, which would cost as much as the rest of the analysis.
struct CodeBoundaries
{
    std::array<float, 255> amplitude;
    CodeBoundaries()
    {
        for (int code = 0; code < 255; ++code)
            amplitude[size_t(code)] = float(std::pow(10.0, ((code + 0.5) / 2.0 - 127.5) / 20.0));
    }
};

const CodeBoundaries& boundaries()
{
    static const CodeBoundaries table;
    return table;
}

} // namespace

uint8_t LevelEnvelope::LevelCode(float amplitude)
{
    if (!(amplitude > 0.0f))
        return 0;
    const auto& table = boundaries().amplitude;
    return uint8_t(std::upper_bound(table.begin(), table.end(), amplitude) - table.begin());
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
    // Bucket by bucket, so that the inner loop is a plain run over samples.
    int64_t i = 0;
    while (i < count) {
        const int64_t run = std::min(count - i, m_bucketEnd - m_frame);
        float peak = m_peak;
        float squares = 0;
        if (m_channels == 1) {
            // Four lanes, which the compiler can keep in one vector register.
            float peaks[4] = {peak, 0, 0, 0};
            float sums[4] = {0, 0, 0, 0};
            int64_t k = i;
            for (; k + 4 <= i + run; k += 4) {
                for (int lane = 0; lane < 4; ++lane) {
                    const float sample = frames[k + lane];
                    peaks[lane] = std::max(peaks[lane], std::fabs(sample));
                    sums[lane] += sample * sample;
                }
            }
            for (; k < i + run; ++k) {
                peaks[0] = std::max(peaks[0], std::fabs(frames[k]));
                sums[0] += frames[k] * frames[k];
            }
            peak = std::max(std::max(peaks[0], peaks[1]), std::max(peaks[2], peaks[3]));
            squares = (sums[0] + sums[1]) + (sums[2] + sums[3]);
        } else {
            for (int64_t k = i; k < i + run; ++k) {
                float mono = 0;
                for (int c = 0; c < m_channels; ++c)
                    mono += frames[k * m_channels + c];
                mono *= m_channelScale;
                peak = std::max(peak, std::fabs(mono));
                squares += mono * mono;
            }
        }
        m_peak = peak;
        m_squares += squares;
        m_inBucket += run;
        m_frame += run;
        i += run;
        if (m_frame == m_bucketEnd)
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
