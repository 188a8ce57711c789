#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The level of a recording, mono, as a peak and an RMS value for every 10 ms
// of audio. Levels are kept as one byte each in half-decibel steps below full
// scale (0 is -127.5 dBFS or quieter), so ten hours take about 7 MB.
struct LevelEnvelope
{
    static constexpr int kBucketMilliseconds = 10;

    int sampleRate = 0;
    int64_t frames = 0;          // samples per channel the envelope covers
    std::vector<uint8_t> levels; // peak, RMS, peak, RMS, ...

    int64_t buckets() const { return int64_t(levels.size() / 2); }
    uint8_t peak(int64_t bucket) const { return levels[size_t(bucket) * 2]; }
    uint8_t rms(int64_t bucket) const { return levels[size_t(bucket) * 2 + 1]; }
    int64_t durationMilliseconds() const { return sampleRate > 0 ? frames * 1000 / sampleRate : 0; }

    // A linear amplitude (1 = full scale) as a level code, and a code in decibels.
    static uint8_t LevelCode(float amplitude);
    static double Decibels(uint8_t code) { return code / 2.0 - 127.5; }
    // A code as a linear amplitude (0 for code 0).
    static float Amplitude(uint8_t code);
};

// Turns mono samples into envelope buckets as they arrive.
class EnvelopeAccumulator
{
public:
    explicit EnvelopeAccumulator(LevelEnvelope& envelope, int sampleRate, int channels);
    // Interleaved frames of the recording's channels.
    void add(const float* frames, int64_t count);
    // Closes the last, partial bucket.
    void finish();

private:
    void closeBucket();

    LevelEnvelope& m_envelope;
    int m_channels;
    float m_channelScale;
    int64_t m_bucketEnd = 0; // the frame that ends the open bucket
    int64_t m_frame = 0;
    int64_t m_inBucket = 0;
    float m_peak = 0;
    double m_squares = 0;
};
