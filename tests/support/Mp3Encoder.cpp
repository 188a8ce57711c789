#include "Mp3Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <lame/lame.h>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kClickMilliseconds = 15;

struct LameDeleter
{
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

// A voiced signal: a slowly moving pitch, harmonics shaped by two formants that
// change from syllable to syllable, syllables of about a quarter second and a
// pause now and then. voicedEdges: the first and last syllables are spoken, so that
// the speech begins and ends where it is put.
std::vector<short> speechLike(int sampleRate, int64_t samples, uint32_t seed, bool voicedEdges = false)
{
    const int lastSyllable = int(double(samples - 1) / sampleRate * 4.0);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double basePitch = 110.0 + 90.0 * unit(random);
    const double pitchWobble = 0.3 + 0.7 * unit(random);
    std::vector<short> pcm(size_t(samples), 0);
    double phase = 0.0;
    double f1 = 700, f2 = 1200;
    int syllable = -1;
    bool pause = false;
    for (int64_t n = 0; n < samples; ++n) {
        const double t = double(n) / sampleRate;
        const int currentSyllable = int(t * 4.0);
        if (currentSyllable != syllable) {
            syllable = currentSyllable;
            f1 = 300 + 600 * unit(random);
            f2 = 900 + 1500 * unit(random);
            pause = unit(random) < 0.15 && !(voicedEdges && (syllable == 0 || syllable == lastSyllable));
        }
        const double within = t * 4.0 - currentSyllable;
        const double envelope = pause ? 0.0 : std::pow(std::sin(M_PI * within), 2.0);
        const double pitch = basePitch * (1.0 + 0.12 * std::sin(2 * M_PI * pitchWobble * t));
        phase += 2 * M_PI * pitch / sampleRate;
        double value = 0.0;
        for (int k = 1; k * pitch < sampleRate / 2.0 && k <= 30; ++k) {
            const double f = k * pitch;
            const double weight = std::exp(-std::pow((f - f1) / 150.0, 2))
                                  + 0.6 * std::exp(-std::pow((f - f2) / 200.0, 2)) + 0.02 / k;
            value += weight * std::sin(k * phase);
        }
        value += 0.01 * (unit(random) - 0.5);
        pcm[size_t(n)] = short(std::clamp(value * envelope * 9000.0, -32767.0, 32767.0));
    }
    return pcm;
}

std::vector<short> tone(int sampleRate, int64_t samples, double hz)
{
    std::vector<short> pcm(static_cast<size_t>(samples));
    for (int64_t n = 0; n < samples; ++n)
        pcm[size_t(n)] = short(12000.0 * std::sin(2 * M_PI * hz * double(n) / sampleRate));
    return pcm;
}

// The tone at a twelfth of its loudness, and for the first 15 ms of each second a burst of
// twice its pitch at full loudness.
std::vector<short> secondClicks(int sampleRate, int64_t samples, double hz)
{
    std::vector<short> pcm(static_cast<size_t>(samples));
    for (int64_t n = 0; n < samples; ++n) {
        const bool click = n % sampleRate < sampleRate * kClickMilliseconds / 1000;
        const double amplitude = click ? 20000.0 : 1000.0;
        pcm[size_t(n)] = short(amplitude * std::sin(2 * M_PI * (click ? 2 * hz : hz) * double(n) / sampleRate));
    }
    return pcm;
}

std::vector<short> roomNoise(int64_t samples, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-25, 25);
    std::vector<short> pcm(static_cast<size_t>(samples));
    for (short& sample : pcm)
        sample = short(noise(random));
    return pcm;
}

std::vector<short> signalSamples(Signal signal, int sampleRate, int64_t samples, uint32_t seed, double toneHz,
                                 bool voicedEdges = false)
{
    switch (signal) {
    case Signal::Speech:
        return speechLike(sampleRate, samples, seed, voicedEdges);
    case Signal::Tone:
        return tone(sampleRate, samples, toneHz);
    case Signal::SecondClicks:
        return secondClicks(sampleRate, samples, toneHz);
    case Signal::Silence:
        break;
    }
    return roomNoise(samples, seed);
}

EncodedMp3 encodePcm(const Mp3Format& format, const std::vector<short>& mono)
{
    EncodedMp3 result;
    std::unique_ptr<lame_global_flags, LameDeleter> lame(lame_init());
    if (!lame)
        return result;
    lame_set_in_samplerate(lame.get(), format.sampleRate);
    lame_set_out_samplerate(lame.get(), format.sampleRate);
    lame_set_num_channels(lame.get(), format.channels);
    lame_set_mode(lame.get(), format.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_quality(lame.get(), 7);
    lame_set_bWriteVbrTag(lame.get(), format.infoFrame ? 1 : 0);
    if (format.vbr) {
        lame_set_VBR(lame.get(), vbr_default);
        lame_set_VBR_quality(lame.get(), 5.0f);
    } else {
        lame_set_VBR(lame.get(), vbr_off);
        lame_set_brate(lame.get(), format.bitrateKbps);
    }
    if (lame_init_params(lame.get()) < 0)
        return result;

    const int64_t samples = int64_t(mono.size());
    std::vector<unsigned char> out(size_t(1.25 * double(samples) + 7200) * 2);
    const int encoded = lame_encode_buffer(lame.get(), mono.data(), mono.data(), int(samples),
                                           out.data(), int(out.size()));
    if (encoded < 0)
        return result;
    const int flushed = lame_encode_flush(lame.get(), out.data() + encoded, int(out.size()) - encoded);
    if (flushed < 0)
        return result;
    result.bytes = QByteArray(reinterpret_cast<const char*>(out.data()), encoded + flushed);
    if (format.infoFrame) {
        // The encoder leaves room for the Xing/Info frame at the start and fills it
        // in now. At low constant bit rates a frame is too small to hold it, and the
        // encoder then writes none: the stream starts with audio.
        unsigned char tag[2880];
        const size_t tagBytes = lame_get_lametag_frame(lame.get(), tag, sizeof tag);
        if (tagBytes > size_t(result.bytes.size()))
            return result;
        std::memcpy(result.bytes.data(), tag, tagBytes);
        result.hasInfoFrame = tagBytes > 0;
    }
    result.pcmSamples = samples;
    result.ok = true;
    return result;
}

} // namespace

EncodedMp3 EncodeMp3(const Mp3Format& format, double seconds, uint32_t seed, Signal signal, double toneHz)
{
    const int64_t samples = int64_t(seconds * format.sampleRate);
    return encodePcm(format, signalSamples(signal, format.sampleRate, samples, seed, toneHz));
}

EncodedMp3 EncodeMp3Spans(const Mp3Format& format, const std::vector<SignalSpan>& spans, uint32_t seed)
{
    std::vector<short> mono;
    double end = 0;
    for (const SignalSpan& span : spans) {
        // Each span ends at the sample its running end time falls on, so that spans
        // start where the test expects them, to the sample.
        end += span.seconds;
        const int64_t samples = int64_t(std::llround(end * format.sampleRate)) - int64_t(mono.size());
        const std::vector<short> part = signalSamples(span.signal, format.sampleRate, samples, seed++, 440.0, true);
        mono.insert(mono.end(), part.begin(), part.end());
    }
    return encodePcm(format, mono);
}
