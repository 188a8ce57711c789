#include "AnalysisFixtures.h"

#include "CardBuilder.h"
#include "RecordingBuilder.h"
#include "analysis/EnvelopeAnalysis.h"

bool WriteSpansRecording(const QString& path, const std::vector<SignalSpan>& spans, uint32_t seed,
                         const QList<uint32_t>& marks)
{
    const EncodedMp3 audio = EncodeMp3Spans(RecorderFormat(0), spans, seed);
    return audio.ok && WriteFileBytes(path, BuildRecording(MakeVoiceHeader(0, QStringLiteral("会議"), marks), audio.bytes));
}

bool WriteLongRecording(const QString& path, int minutes)
{
    // Without an Info frame, the stretches join into one stream of frames.
    Mp3Format format = RecorderFormat(0);
    format.infoFrame = false;
    static const EncodedMp3 minute =
        EncodeMp3Spans(format, {{Signal::Speech, 40.0}, {Signal::Silence, 20.0}}, 3);
    if (!minute.ok)
        return false;
    QByteArray audio;
    audio.reserve(minute.bytes.size() * minutes);
    for (int i = 0; i < minutes; ++i)
        audio += minute.bytes;
    return WriteFileBytes(path, BuildRecording(MakeVoiceHeader(0), audio));
}

LevelEnvelope EnvelopeOf(const QString& path)
{
    LevelEnvelope envelope;
    const std::atomic<bool> never{false};
    AnalyseEnvelope(path, envelope, never);
    return envelope;
}
