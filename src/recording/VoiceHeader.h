#pragma once

#include <QString>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

class RecordingFile;
struct FileIdentity;

static_assert(std::endian::native == std::endian::little,
              "the recording header is stored little-endian and read in place");

inline constexpr uint32_t kEmptyIndexMark = 0xFFFFFFFFu;
inline constexpr int kIndexMarkCount = 5;
inline constexpr int kMemoBytes = 256;

// The recording header: the body of the XPCC frame in a recording's ID3v2 tag.
// Bytes the program does not interpret are kept as read and written back as they were.
#pragma pack(push, 1)
struct tagVoiceHeader
{
    uint8_t reserved0[16];
    uint8_t mode;            // 0 long-play, 1 standard, 2 high quality
    uint8_t playedFlag;      // 0 not yet played; the program writes 2
    uint8_t protectFlag;     // 0 not protected; the program writes 1
    uint8_t reserved19;
    uint8_t transferredFlag; // 0 not yet transferred; the program writes 1
    uint32_t indexMarks[kIndexMarkCount]; // whole seconds; kEmptyIndexMark for an empty slot
    uint8_t reserved41[195];
    char memo[kMemoBytes];   // CP932, NUL-terminated unless all 256 bytes are used
};
#pragma pack(pop)

static_assert(sizeof(tagVoiceHeader) == 492);
static_assert(offsetof(tagVoiceHeader, mode) == 16);
static_assert(offsetof(tagVoiceHeader, transferredFlag) == 20);
static_assert(offsetof(tagVoiceHeader, indexMarks) == 21);
static_assert(offsetof(tagVoiceHeader, reserved41) == 41);
static_assert(offsetof(tagVoiceHeader, memo) == 236);

// Where the header walk ended.
enum class VoiceHeaderLookup { Found, OpenFailed, NotTagged, NoFrame };

// Walks the tag's frames from the first one on (frame sizes little-endian, the
// walk going on through padding and audio data) and returns the file position of
// the XPCC frame's body, or -1 with the reason in lookup.
int64_t FindVoiceHeaderBody(RecordingFile& file, VoiceHeaderLookup* lookup = nullptr);

// Reads the header of a recording. The header is cleared first, so it is all
// zero when false is returned. A file that is in use by another operation is
// not found. An XPCC frame followed by fewer than 492 bytes reads with the
// missing tail zero.
bool ReadVoiceHeader(const QString& path, tagVoiceHeader& header, VoiceHeaderLookup* lookup = nullptr);
// Reads the header from an open file (the scan's single open).
bool ReadVoiceHeader(RecordingFile& file, tagVoiceHeader& header, VoiceHeaderLookup* lookup = nullptr);

// Writes the 492 bytes over the body of the file's XPCC frame; true only once
// they have reached the device. The file keeps its access and last-write times,
// so the start time the list shows never moves; where the file system refuses
// to put them back, the write still counts as done. A write that fails after
// the frame was found shows a warning; every other failure returns false silently.
bool WriteVoiceHeader(const QString& path, const tagVoiceHeader& header);
// The same, only into the file the header was read from: when the path names
// another file now (renamed, replaced or deleted meanwhile), nothing is
// written and the write's warning is shown. The header was found when it was
// read, so every failure shows the warning (a write-protected file included).
bool WriteVoiceHeader(const QString& path, const tagVoiceHeader& header, const FileIdentity& readFrom);
// The warning of a header that cannot be written.
QString VoiceHeaderWriteFailedMessage();

// The memo as the list shows it: the bytes up to the first NUL, trailing white
// space removed, converted from CP932.
QString VoiceMemoText(const tagVoiceHeader& header);
// Index mark slots that are not empty (a slot holding 0 counts).
int CountIndexMarks(const tagVoiceHeader& header);
// Puts the index marks in the form every change of them leaves: a slot holding
// 0 becomes empty, a slot equal to an earlier non-empty slot becomes empty, and
// the five slots are sorted ascending as unsigned numbers, empty slots last.
// Headers as the recorder wrote them are shown unnormalised; only changes
// normalise.
void NormalizeIndexMarks(tagVoiceHeader& header);
using IndexMarks = std::array<uint32_t, kIndexMarkCount>;
void NormalizeIndexMarks(IndexMarks& marks);
// The marks out of and into the packed header.
IndexMarks GetIndexMarks(const tagVoiceHeader& header);
void SetIndexMarks(tagVoiceHeader& header, const IndexMarks& marks);
