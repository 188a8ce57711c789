#include "RecordingExport.h"

#include "BlockWriter.h"
#include "ExportTags.h"
#include "Mp3FrameIndex.h"
#include "Mp3SectionCut.h"
#include "PcmSamples.h"
#include "WavHeader.h"
#include "platform/DurableCopy.h"
#include "platform/NumberedNames.h"
#include "platform/SystemErrorText.h"
#include "audio/Mp3Decoder.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceHeader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t kCopyChunk = int64_t(1) << 23;
constexpr int64_t kDecodeChunk = 8192;
// A WAV is written in blocks of this many decoded chunks (1 MB of stereo), a few at a time.
constexpr size_t kChunksPerBlock = 32;
constexpr int kBlocks = 3;

ExportResult failure(const QString& text)
{
    ExportResult result;
    result.error = text;
    return result;
}

ExportResult cancelled()
{
    ExportResult result;
    result.cancelled = true;
    return result;
}

QString systemFailure(const QString& what, int error)
{
    return QStringLiteral("%1\n%2").arg(what, SystemErrorText(error));
}

QString outputName(const QString& source, ExportFormat format)
{
    const QFileInfo info(source);
    const bool upper = info.suffix().isEmpty() || info.suffix() == info.suffix().toUpper();
    const QString extension = format == ExportFormat::Mp3 ? QStringLiteral("mp3") : QStringLiteral("wav");
    return info.completeBaseName() + u'.' + (upper ? extension.toUpper() : extension);
}

bool nameTaken(const QString& folder, const QString& name)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(QDir(folder).filePath(name)).constData(), &st) == 0 || errno != ENOENT;
}

// Names the written file: the plain name, else the first free numbered one, never
// replacing what another writer put there meanwhile.
FileResult commitUnderFreeName(DurableNewFile& out, const QString& folder, const QString& name,
                               QString& outputPath)
{
    const QByteArray nativeName = QFile::encodeName(name);
    for (int number = 1; number <= LastFileNumber; ++number) {
        const QString candidate =
            number == 1 ? name : QFile::decodeName(NumberedFileName(nativeName, number));
        if (nameTaken(folder, candidate))
            continue;
        const FileResult committed = out.commit(candidate);
        if (committed.error == EEXIST)
            continue;
        if (committed.ok())
            outputPath = QDir(folder).filePath(candidate);
        return committed;
    }
    return FileResult{EEXIST};
}

// Copies [from, from + size) of in to the end of out.
int copyRange(int in, int out, int64_t from, int64_t size, int64_t doneBefore, int64_t total,
              const ExportProgress& progress, bool& stop)
{
    std::vector<char> buffer;
    int64_t done = 0;
    bool kernelCopy = true;
    while (done < size) {
        if (progress && !progress(doneBefore + done, total)) {
            stop = true;
            return 0;
        }
        const int64_t want = std::min(kCopyChunk, size - done);
        ssize_t got = -1;
        if (kernelCopy) {
            loff_t offset = from + done;
            got = ::copy_file_range(in, &offset, out, nullptr, size_t(want), 0);
            if (got < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(size_t(std::min<int64_t>(want, int64_t(1) << 20)));
            got = ::pread(in, buffer.data(), buffer.size(), from + done);
            if (got > 0) {
                for (ssize_t written = 0; written < got;) {
                    const ssize_t w = ::write(out, buffer.data() + written, size_t(got - written));
                    if (w < 0 && errno == EINTR)
                        continue;
                    if (w < 0)
                        return errno;
                    written += w;
                }
            }
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return EIO; // the source got shorter meanwhile
        // The disk starts writing what is copied while the rest is copied; the sync
        // at the end then waits for less. It is only a start: the sync still decides.
        ::sync_file_range(out, 0, 0, SYNC_FILE_RANGE_WRITE);
        done += got;
    }
    return 0;
}

// The chapters' times are placed where players built on the common decoding libraries
// show them on the marks: those count a file's time from its first frame, the lead-in
// that a gapless decoder drops included (their start time), and show a chapter that
// much earlier than its time. A reader that counts from the first sample a gapless
// decoder gives sees them late by the lead-in instead (at most a fifth of a second at
// 8 kHz, a twentieth at 44.1 kHz).
ExportTags tagsFor(const QString& source, RecordingFile& file, const tagVoiceHeader* recorderHeader,
                   const ExportOptions& options, const ExportSpan& span, int64_t leadInMs)
{
    ExportTags tags;
    const bool hasHeader = recorderHeader != nullptr;
    const tagVoiceHeader header = hasHeader ? *recorderHeader : tagVoiceHeader{};
    const QString memo = VoiceMemoText(header);
    tags.title = ExportTitleText(QFileInfo(source).fileName(), memo, options.title);
    if (file.creationTime() > 0)
        tags.recorded = QDateTime::fromSecsSinceEpoch(file.creationTime());
    tags.comment = QString(memo).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    tags.lengthMs = span.endMs - span.beginMs + leadInMs;
    QList<uint32_t> marks;
    // A file without the recorder's header has no marks, hence no chapters.
    for (const uint32_t mark : hasHeader ? GetIndexMarks(header) : IndexMarks{}) {
        if (hasHeader && mark != kEmptyIndexMark && !marks.contains(mark))
            marks.append(mark);
    }
    std::sort(marks.begin(), marks.end());
    for (const uint32_t mark : marks) {
        const int64_t atMs = int64_t(mark) * 1000;
        if (atMs >= span.beginMs && atMs < span.endMs)
            tags.chapterStartsMs.append(atMs - span.beginMs + leadInMs);
    }
    return tags;
}

int64_t toSamples(int64_t ms, int rate)
{
    return ms * rate / 1000;
}

QString notReadable(const QString& source)
{
    return QStringLiteral("MP3の音声として読めません。\n%1").arg(source);
}

QString noSection()
{
    return QStringLiteral("書き出す区間がありません。");
}

// What is exported of a recording, in milliseconds (for the tags) and in samples as a
// gapless decoder gives them; the MP3 and the WAV export take the same.
struct PlannedSpan
{
    ExportSpan ms;
    int64_t beginSample = 0;
    int64_t endSample = 0;
};

// The span to export, clamped to the audio the frame index holds; none when that is empty.
std::optional<PlannedSpan> planSpan(const Mp3FrameIndex& index, const ExportOptions& options)
{
    const int rate = index.format.sampleRate;
    const int64_t samples = index.gaplessSamples();
    const int64_t lengthMs = samples * 1000 / rate;
    PlannedSpan span;
    span.ms = options.section.value_or(ExportSpan{0, lengthMs});
    span.ms.beginMs = std::clamp<int64_t>(span.ms.beginMs, 0, lengthMs);
    span.ms.endMs = std::clamp<int64_t>(span.ms.endMs, 0, lengthMs);
    span.beginSample = toSamples(span.ms.beginMs, rate);
    span.endSample = span.ms.endMs == lengthMs ? samples : toSamples(span.ms.endMs, rate);
    if (span.ms.endMs <= span.ms.beginMs || span.endSample <= span.beginSample)
        return std::nullopt;
    return span;
}

ExportResult exportMp3(const QString& source, RecordingFile& file, const tagVoiceHeader* header,
                       const Mp3FrameIndex& index, const Mp3SectionCut& cut, const ExportSpan& span,
                       const QString& folder, const ExportOptions& options, const ExportProgress& progress)
{
    const int rate = index.format.sampleRate;
    const int64_t leadInMs = ((int64_t(cut.delay) + Mp3FrameIndex::kDecoderDelay) * 1000 + rate / 2) / rate;
    const QByteArray tag = RenderExportTag(tagsFor(source, file, header, options, span, leadInMs));
    const QByteArray& leading = cut.leading;

    DurableNewFile out;
    FileResult step = out.create(folder);
    if (step.ok())
        step = out.write(tag.constData(), size_t(tag.size()));
    if (step.ok())
        step = out.write(leading.constData(), size_t(leading.size()));
    if (!step.ok())
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), step.error));
    const int64_t bytes = cut.sourceBytes(index);
    bool stop = false;
    if (const int error = copyRange(file.descriptor(), out.descriptor(), index.offsets[size_t(cut.firstFrame)],
                                    bytes, 0, bytes, progress, stop))
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), error));
    if (stop)
        return cancelled();
    ExportResult result;
    step = commitUnderFreeName(out, folder, outputName(source, ExportFormat::Mp3), result.outputPath);
    if (!step.ok())
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), step.error));
    result.ok = true;
    return result;
}

// Decodes the span that the frame index found: the decoder is never asked for what lies
// beyond the frames (junk, another stream, a hole), which it would search through.
ExportResult exportWav(const QString& source, const Mp3FrameIndex& index, const PlannedSpan& span,
                       const QString& folder, const ExportProgress& progress)
{
    Mp3Decoder decoder;
    DecodeFailure why;
    if (!decoder.open(source, &why)) {
        if (why.systemError)
            return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), why.systemError));
        return failure(notReadable(source));
    }
    const int rate = decoder.sampleRate();
    const int channels = decoder.channels();
    if (rate != index.format.sampleRate || channels != (index.format.mono ? 1 : 2))
        return failure(notReadable(source));
    const int64_t begin = span.beginSample;
    const int64_t end = span.endSample;
    if (begin > 0 && decoder.seek(begin) != begin)
        return failure(notReadable(source));

    DurableNewFile out;
    FileResult step = out.create(folder);
    const QByteArray placeholder = WavHeader(rate, channels, 0);
    if (step.ok())
        step = out.write(placeholder.constData(), size_t(placeholder.size()));
    if (!step.ok())
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), step.error));
    // Decoding keeps this thread busy; the blocks are written on another meanwhile.
    const size_t chunkBytes = size_t(kDecodeChunk * channels) * sizeof(int16_t);
    BlockWriter writer(out.descriptor(), placeholder.size(), chunkBytes * kChunksPerBlock, kBlocks);
    BlockWriter::Block* block = nullptr;
    std::vector<float> samples(size_t(kDecodeChunk * channels));
    int64_t written = 0;
    const int64_t total = end - begin;
    for (;;) {
        if (progress && !progress(written, total))
            return cancelled();
        int64_t want = std::min(kDecodeChunk, end - begin - written);
        if (want <= 0)
            break;
        if (written == MaxWavFrames(channels)) {
            if (decoder.read(samples.data(), 1) <= 0)
                break;
            writer.finish();
            return failure(QStringLiteral("WAVファイルに書き出せる長さ（約4GB）を超えています。\n"
                                          "区間を指定して書き出してください。"));
        }
        want = std::min(want, MaxWavFrames(channels) - written);
        if (!block && !(block = writer.take()))
            break; // a write failed: finish() says why
        const int64_t got = decoder.read(samples.data(), want);
        if (got <= 0)
            break;
        const size_t count = size_t(got * channels);
        ToPcm16(samples.data(), count,
                reinterpret_cast<int16_t*>(block->bytes.get() + block->size));
        block->size += count * sizeof(int16_t);
        written += got;
        if (block->capacity - block->size < chunkBytes) {
            writer.queue(block);
            block = nullptr;
        }
    }
    if (block)
        writer.queue(block);
    if (const int error = writer.finish())
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), error));
    if (written == 0)
        return failure(noSection());
    const QByteArray header = WavHeader(rate, channels, written);
    if (::pwrite(out.descriptor(), header.constData(), size_t(header.size()), 0) != header.size())
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), errno));
    ExportResult result;
    step = commitUnderFreeName(out, folder, outputName(source, ExportFormat::Wav), result.outputPath);
    if (!step.ok())
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。"), step.error));
    result.ok = true;
    return result;
}

} // namespace

QString ExportTitleText(const QString& fileName, const QString& memo, ExportTitle title)
{
    if (title == ExportTitle::Memo) {
        const QString firstLine = memo.section(QRegularExpression(QStringLiteral("[\r\n]")), 0, 0).trimmed();
        if (!firstLine.isEmpty())
            return firstLine;
    }
    return QFileInfo(fileName).completeBaseName();
}

std::optional<ExportSpan> MarkedSpan(const QString& source)
{
    tagVoiceHeader header;
    if (!ReadVoiceHeader(source, header))
        return std::nullopt;
    std::vector<uint32_t> marks;
    for (const uint32_t mark : GetIndexMarks(header)) {
        if (mark != kEmptyIndexMark)
            marks.push_back(mark);
    }
    if (marks.empty())
        return std::nullopt;
    const auto [low, high] = std::minmax_element(marks.begin(), marks.end());
    if (*low == *high)
        return ExportSpan{int64_t(*low) * 1000, ExportSpan::kToTheEnd};
    return ExportSpan{int64_t(*low) * 1000, int64_t(*high) * 1000};
}

ExportResult ExportRecording(const QString& source, const QString& folder, const ExportOptions& options,
                             const ExportProgress& progress)
{
    // Both formats look at the file alike: a regular file only, opened without waiting,
    // whose frames the index takes.
    RecordingFile file;
    if (!file.open(source, RecordingFile::Access::Read)) {
        const int error = file.error() == RecordingFile::kNotRegularFile ? EINVAL : file.error();
        return failure(systemFailure(QStringLiteral("書き出しに失敗しました。\n%1").arg(source), error));
    }
    Mp3FrameIndex index;
    if (!index.build(file))
        return failure(notReadable(source));
    const std::optional<PlannedSpan> span = planSpan(index, options);
    if (!span)
        return failure(noSection());
    // The WAV is decoded, not cut, but a stream whose frames could not be cut (their side
    // information or reservoir damaged) is no more exported as WAV than as MP3.
    Mp3SectionCut cut;
    if (!cut.plan(file, index, span->beginSample, span->endSample))
        return failure(notReadable(source));
    if (options.format == ExportFormat::Wav)
        return exportWav(source, index, *span, folder, progress);
    tagVoiceHeader header;
    const bool hasHeader = ReadVoiceHeader(file, header);
    return exportMp3(source, file, hasHeader ? &header : nullptr, index, cut, span->ms, folder, options,
                     progress);
}
