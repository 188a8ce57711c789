#include "EnvelopeAnalysis.h"

#include "audio/Mp3Decoder.h"

#include <QElapsedTimer>
#include <vector>

namespace {

constexpr int64_t kChunkFrames = 8192;
// The strip shows its first part soon after loading, then grows a few times a second.
constexpr int64_t kFirstReportBuckets = 500;
constexpr int kReportMilliseconds = 40;

} // namespace

AnalysisResult AnalyseEnvelope(const QString& path, LevelEnvelope& envelope, const std::atomic<bool>& cancel,
                               const std::function<void(const LevelEnvelope&, int64_t)>& progress)
{
    envelope = LevelEnvelope{};
    Mp3Decoder decoder;
    if (!decoder.open(path, nullptr))
        return AnalysisResult::Unreadable;
    EnvelopeAccumulator accumulator(envelope, decoder.sampleRate(), decoder.channels());
    std::vector<float> samples(size_t(kChunkFrames * decoder.channels()));
    int64_t reported = 0;
    QElapsedTimer sinceReport;
    sinceReport.start();
    while (true) {
        if (cancel.load(std::memory_order_relaxed))
            return AnalysisResult::Cancelled;
        const int64_t got = decoder.read(samples.data(), kChunkFrames);
        if (got <= 0)
            break;
        accumulator.add(samples.data(), got);
        if (progress && envelope.buckets() > reported
            && (reported == 0 ? envelope.buckets() >= kFirstReportBuckets
                              : sinceReport.elapsed() >= kReportMilliseconds)) {
            progress(envelope, reported);
            reported = envelope.buckets();
            sinceReport.restart();
        }
    }
    accumulator.finish();
    if (progress && envelope.buckets() > reported)
        progress(envelope, reported);
    return AnalysisResult::Complete;
}
