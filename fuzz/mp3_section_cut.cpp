// The MP3 frame index and the section cut planned on it: the first four bytes give the
// section (its first sample and its length, 16 bits each, little-endian), the rest is
// the recording file.
#include "FuzzSupport.h"
#include "export/Mp3FrameIndex.h"
#include "export/Mp3SectionCut.h"
#include "recording/RecordingFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    const int64_t begin = int64_t(data[0]) | int64_t(data[1]) << 8;
    const int64_t length = int64_t(data[2]) | int64_t(data[3]) << 8;
    const QString path = WriteFuzzFile(QStringLiteral("section.mp3"), data + 4, size - 4);
    RecordingFile file;
    FUZZ_CHECK(file.open(path, RecordingFile::Access::Read));
    Mp3FrameIndex index;
    QString error;
    if (!index.build(file, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(index.frameCount() > 0);
    for (size_t i = 1; i < index.offsets.size(); ++i)
        FUZZ_CHECK(index.offsets[i - 1] < index.offsets[i]);
    FUZZ_CHECK(index.offsets.back() <= file.size());
    FUZZ_CHECK(index.gaplessSamples() >= 0 && index.gaplessSamples() <= index.rawSamples());

    Mp3SectionCut cut;
    if (!cut.plan(file, index, begin, begin + length))
        return 0;
    FUZZ_CHECK(0 <= cut.firstFrame && cut.firstFrame <= cut.endFrame && cut.endFrame <= index.frameCount());
    FUZZ_CHECK(cut.sourceBytes(index) >= 0);
    FUZZ_CHECK(cut.samples > 0 && cut.samples <= length);
    FUZZ_CHECK(cut.delay >= 0 && cut.delay <= 4095 && cut.padding >= 0 && cut.padding <= 4095);
    return 0;
}
