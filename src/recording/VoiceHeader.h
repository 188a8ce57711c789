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

// Who a header write is for. A change the user made (memo, marks, protect)
// that cannot be written is reported; the played mark, which the program sets
// by itself whenever a recording plays, is dropped silently when the file
// cannot be written at all (read-only media would otherwise warn for every
// recording played), and reported only when a write that began failed.
enum class HeaderChange { User, Automatic };

// How a write into an open file ended.
enum class HeaderWriteResult { Written, NotFound, OutsideTag, Failed };

// Writes the 492 bytes over the body of the XPCC frame of a file opened for
// writing; the caller holds the file (and its lock) from the read on. The body
// is written only when all of it lies inside the tag's declared size and
// inside the file: a frame that the walk found past the tag, in the audio, or
// whose body the file's end cuts short is read as found but never written
// over. A write that fails after it began shows the warning; the other
// outcomes are silent.
// Whether a header write waits until the bytes are on the device (Now), or leaves
// them to a later sync of the file system that many writes share (Later).
enum class HeaderSync { Now, Later };
HeaderWriteResult WriteVoiceHeaderInto(RecordingFile& file, const tagVoiceHeader& header,
                                       HeaderSync sync = HeaderSync::Now);

// Writes the 492 bytes over the body of the file's XPCC frame; true only once
// they have reached the device. The file keeps its access and last-write times,
// so the start time the list shows never moves; where the file system refuses
// to put them back, the write still counts as done. A write that fails after
// it began shows a warning; every other failure returns false silently.
bool WriteVoiceHeader(const QString& path, const tagVoiceHeader& header);
// The same, only into the file the header was read from: when the path names
// another file now (renamed, replaced or deleted meanwhile), nothing is
// written. The header was found when it was read, so for a change of the
// user's every failure shows the warning (a write-protected file included);
// for an automatic change only a write that began and failed does.
bool WriteVoiceHeader(const QString& path, const tagVoiceHeader& header, const FileIdentity& readFrom,
                      HeaderChange change = HeaderChange::User, HeaderSync sync = HeaderSync::Now);
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
