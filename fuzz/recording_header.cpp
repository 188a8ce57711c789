// The recording header's reader and writer, and the duration probe that reads the same
// file start: the bytes are a whole recording file (an ID3v2 tag holding the recorder's
// private frame, then MPEG audio).
#include "FuzzSupport.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = WriteFuzzFile(QStringLiteral("recording.mp3"), data, size);
    tagVoiceHeader header{};
    int64_t body = -1;
    {
        RecordingFile file;
        FUZZ_CHECK(file.open(path, RecordingFile::Access::Read));
        VoiceHeaderLookup lookup{};
        const bool found = ReadVoiceHeader(file, header, &lookup);
        FUZZ_CHECK(found == (lookup == VoiceHeaderLookup::Found));
        body = found ? FindVoiceHeaderBody(file) : -1;
        FUZZ_CHECK(!found || (body >= 0 && body <= int64_t(size)));
        const int64_t audio = AudioStart(file);
        FUZZ_CHECK(audio >= 0);
        MeasureMp3Duration(file);
    }
    VoiceMemoText(header);
    FUZZ_CHECK(CountIndexMarks(header) >= 0 && CountIndexMarks(header) <= kIndexMarkCount);
    IndexMarks marks = GetIndexMarks(header);
    NormalizeIndexMarks(marks);
    FUZZ_CHECK(std::is_sorted(marks.begin(), marks.end()));

    // Writing the header back changes nothing but the header's own bytes, and only where
    // they lie inside the tag and the file: the file never grows.
    std::memset(header.memo, 'M', sizeof header.memo);
    HeaderWriteResult result;
    {
        RecordingFile file;
        FUZZ_CHECK(file.open(path, RecordingFile::Access::ReadWrite));
        result = WriteVoiceHeaderInto(file, header, HeaderSync::Later);
    }
    const QByteArray after = ReadFuzzFile(path);
    FUZZ_CHECK(size_t(after.size()) == size);
    const auto* before = reinterpret_cast<const char*>(data);
    if (result == HeaderWriteResult::Written) {
        FUZZ_CHECK(body >= 0 && body + int64_t(sizeof header) <= int64_t(size));
        FUZZ_CHECK(std::memcmp(after.constData(), before, size_t(body)) == 0);
        FUZZ_CHECK(std::memcmp(after.constData() + body, &header, sizeof header) == 0);
        const size_t end = size_t(body) + sizeof header;
        FUZZ_CHECK(std::memcmp(after.constData() + end, before + end, size - end) == 0);
    } else {
        FUZZ_CHECK(size == 0 || std::memcmp(after.constData(), before, size) == 0);
    }
    return 0;
}
