#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

// Real MP3 audio made by the LAME encoder from a synthetic, speech-like signal
// (a voiced pitch contour with formants, syllables and pauses), from a tone, or from a
// quiet tone with a loud click at the start of every whole second (to find by ear, or by
// a recording of the output, where each second begins).
struct Mp3Format
{
    int sampleRate = 8000;
    int channels = 1;
    int bitrateKbps = 8; // the constant bit rate, or the VBR quality's target when vbr
    bool vbr = false;
    bool infoFrame = true; // a Xing/Info frame at the start, where a frame can hold one
};

struct EncodedMp3
{
    QByteArray bytes;       // the audio frames, no tag
    int64_t pcmSamples = 0; // samples per channel fed to the encoder
    bool hasInfoFrame = false;
    bool ok = false;
};

// Silence: a room's faint noise floor (about -66 dBFS), as a recorder picks it up between words.
enum class Signal { Speech, Tone, SecondClicks, Silence };

EncodedMp3 EncodeMp3(const Mp3Format& format, double seconds, uint32_t seed,
                     Signal signal = Signal::Speech, double toneHz = 440.0);

// Stretches of different signals one after the other, as one recording: speech-like
// bursts and silences at places a test knows (speech starts and ends with a syllable).
struct SignalSpan
{
    Signal signal;
    double seconds;
};
EncodedMp3 EncodeMp3Spans(const Mp3Format& format, const std::vector<SignalSpan>& spans, uint32_t seed);
