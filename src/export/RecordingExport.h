#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

enum class ExportFormat { Mp3, Wav };
enum class ExportTitle { FileName, Memo };

// A span of a recording in milliseconds, end exclusive; an end past the recording's
// end (kToTheEnd) stops there.
struct ExportSpan
{
    static constexpr int64_t kToTheEnd = 1'000'000'000'000;

    int64_t beginMs = 0;
    int64_t endMs = 0;
};

struct ExportOptions
{
    ExportFormat format = ExportFormat::Mp3;
    ExportTitle title = ExportTitle::FileName;
    std::optional<ExportSpan> section; // none: the whole recording
};

struct ExportResult
{
    bool ok = false;
    bool cancelled = false;
    QString outputPath;
    QString error; // for the user, when not ok and not cancelled
};

// Called with the bytes or samples done and their total; false cancels the export.
using ExportProgress = std::function<bool(int64_t done, int64_t total)>;

// Exports a recording into folder under its base name with the format's extension
// (".MP3"/".WAV", in the case of the source's extension), or the first free numbered name
// (name(2)...) when that is taken. An MP3 is cut from the source's frames without
// re-encoding (see Mp3SectionCut) and carries standard ID3v2.4 tags (see ExportTags)
// in place of the recorder's own tag; a WAV holds the decoded samples as 16-bit PCM.
// The output is written under a temporary name, synced and then named: a failed or
// cancelled export leaves nothing behind. The source is opened for reading only.
ExportResult ExportRecording(const QString& source, const QString& folder, const ExportOptions& options,
                             const ExportProgress& progress = {});

// The export's title for a recording: its file name without the extension, or the
// first line of its memo (the file name when the memo is empty).
QString ExportTitleText(const QString& fileName, const QString& memo, ExportTitle title);
// The span between the first and the last index mark, as seconds; from the only mark to
// the end when there is one; none when there are no marks.
std::optional<ExportSpan> MarkedSpan(const QString& source);
