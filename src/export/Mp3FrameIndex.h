#pragma once

#include "recording/MpegFrameHeader.h"

#include <QString>
#include <cstdint>
#include <vector>

class RecordingFile;

// The audio frames of an MP3 file, found by walking their headers from the first frame
// after the ID3v2 tag(s) to the first bytes that are not a frame (an ID3v1 tag, junk, the
// file's end). Only layer III streams with a bit rate in every header are indexed, and a
// stream that turns into another one (another rate or channel count, as files joined
// together) is refused: its frames could not be cut alike. A Xing/Info frame at the start is not audio: its
// LAME extension, when present, gives the encoder's delay and padding, which a gapless
// decoder drops (the decoder's own delay of 529 samples on top of the delay).
struct Mp3FrameIndex
{
    static constexpr int kDecoderDelay = 529;

    MpegFrameHeader format;          // the first audio frame's header
    std::vector<int64_t> offsets;    // file position of each audio frame, and one past the last
    std::vector<uint16_t> bitrates;  // each audio frame's bit rate in kbit/s
    int encoderDelay = -1;           // from a LAME extension; -1 when there is none
    int encoderPadding = 0;

    int64_t frameCount() const { return offsets.empty() ? 0 : int64_t(offsets.size()) - 1; }
    // Samples per channel of all audio frames, as a decoder that trims nothing gives them.
    int64_t rawSamples() const { return frameCount() * format.samplesPerFrame; }
    // Where gapless decoding starts in the raw samples, and how many samples it gives.
    int64_t gaplessStart() const { return encoderDelay < 0 ? 0 : encoderDelay + kDecoderDelay; }
    int64_t gaplessSamples() const;

    // Whether the audio frames [first, end) all have one bit rate.
    bool constantBitrate(int64_t first, int64_t end) const;

    // Fills the index from an open file; false with a message when no audio frames are
    // found or the stream is not one the index takes.
    bool build(RecordingFile& file, QString* error = nullptr);
};
