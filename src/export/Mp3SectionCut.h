#pragma once

#include "Mp3FrameIndex.h"

#include <QByteArray>
#include <cstdint>

class RecordingFile;

// A section of an MP3 recording taken out without re-encoding, so that a gapless decoder
// gives the samples of the source's span.
//
// The span is given in samples of the source as a gapless decoder gives them. The cut
// takes the whole frames that hold the span, and before them the frames whose decoded
// tail the first one's output overlaps (one for MPEG-1, whose frames hold two granules,
// two for MPEG-2 and 2.5). The first frame taken usually begins its data in earlier
// frames (the bit reservoir): it is rebuilt as a larger frame holding its own data
// followed by the bytes that the next frames reach back for, a lossless change of
// framing. A new Xing/Info frame with a LAME extension then tells a gapless decoder to
// drop the samples before the span and after it. A cut at the stream's very start puts
// a silent frame first (all-zero side information decodes to silence and leaves the
// decoder as it starts), so that the decoder's own delay of 529 samples can be dropped
// as well.
//
// The frames before the span are no more than the overlap, so that the lead-in a gapless
// decoder drops stays near an encoder's own: 1,105 samples for a cut at the stream's
// start, at most two granules and the span's offset in its frame elsewhere. The samples
// equal the source's within the last bit of a float (the decoder's synthesis window may
// stand elsewhere than it stood for the source, and its filter then sums in another order).
// The Info frame says "Info" when every audio frame has one bit rate, "Xing" otherwise.
struct Mp3SectionCut
{
    int64_t firstFrame = 0; // index of the first source frame copied as it is
    int64_t endFrame = 0;   // one past the last
    QByteArray leading;     // Info frame, silent frame, rebuilt first frame: before the copy
    int delay = 0;          // encoder delay and padding for the Info frame
    int padding = 0;
    int64_t samples = 0;    // what a gapless decoder gives of the export

    // Plans the cut of [beginSample, endSample) (clamped to the source's gapless length),
    // reading the frames it needs from the file. False when the span is empty after
    // clamping or the stream's frames cannot be rebuilt (damaged side information, a
    // reservoir reaching outside what the stream holds); nothing is read past a frame.
    bool plan(RecordingFile& file, const Mp3FrameIndex& index, int64_t beginSample, int64_t endSample);

    // Bytes of the source frames copied as they are.
    int64_t sourceBytes(const Mp3FrameIndex& index) const
    {
        return index.offsets[size_t(endFrame)] - index.offsets[size_t(firstFrame)];
    }
};
