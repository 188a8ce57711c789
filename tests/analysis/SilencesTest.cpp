#include "AnalysisFixtures.h"
#include "RecordingBuilder.h"
#include "TestRegistry.h"
#include "analysis/EnvelopeAnalysis.h"
#include "analysis/Silences.h"

#include <cmath>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(std::vector<SignalSpan>)
Q_DECLARE_METATYPE(std::vector<Silence>)
Q_DECLARE_METATYPE(std::vector<int64_t>)
using Levels = std::vector<std::pair<int, double>>;
Q_DECLARE_METATYPE(Levels)

namespace {

using Spans = std::vector<SignalSpan>;
constexpr Signal S = Signal::Speech;
constexpr Signal Q = Signal::Silence;

// The recorder's long-play frames are too small for an Info frame, so nothing tells
// the decoder of the encoder's delay (1105 samples at 8 kHz): everything is heard
// that much later, in the player as in the envelope.
constexpr int64_t kEncoderDelay = 138;
// Where the encoder's smear and a syllable's soft start put an edge: within this.
constexpr int64_t kEdgeTolerance = 100;
// A silence that lasts until the recording ends.
constexpr int64_t kToTheEnd = -1;

QString describe(const std::vector<Silence>& silences)
{
    QStringList parts;
    for (const Silence& silence : silences)
        parts << QStringLiteral("[%1,%2]").arg(silence.startMilliseconds).arg(silence.endMilliseconds);
    return parts.join(u' ');
}

} // namespace

class SilencesTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    LevelEnvelope envelopeOf(const Spans& spans)
    {
        const QString path = m_folder.filePath(QStringLiteral("r%1.MP3").arg(++m_count));
        if (!WriteSpansRecording(path, spans))
            return {};
        return EnvelopeOf(path);
    }
    int m_count = 0;

private Q_SLOTS:
    void envelopeCoversTheRecording()
    {
        const LevelEnvelope envelope = envelopeOf({{S, 3.0}, {Q, 3.0}});
        QCOMPARE(envelope.sampleRate, 8000);
        // As long as the audio decoded: the delay in front, the last frame's padding behind.
        QVERIFY(envelope.durationMilliseconds() >= 6000 + kEncoderDelay);
        QVERIFY(envelope.durationMilliseconds() <= 6000 + kEncoderDelay + 72);
        QCOMPARE(envelope.buckets(), (envelope.durationMilliseconds() + 9) / 10);
        // Speech is loud, the room noise is not.
        QVERIFY(LevelEnvelope::Decibels(envelope.peak(150)) > -30);
        QVERIFY(LevelEnvelope::Decibels(envelope.rms(450)) < -55);
    }

    void findsSilences_data()
    {
        QTest::addColumn<Spans>("spans");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<int>("minimumSeconds");
        QTest::addColumn<std::vector<Silence>>("expected");
        const Spans twoPauses{{S, 3}, {Q, 4}, {S, 3}, {Q, 2.5}, {S, 2}};
        QTest::newRow("two pauses") << twoPauses << 10.0 << 2 << std::vector<Silence>{{3000, 7000}, {10000, 12500}};
        QTest::newRow("minimum longer than the second pause")
            << twoPauses << 10.0 << 3 << std::vector<Silence>{{3000, 7000}};
        QTest::newRow("minimum of one second keeps speech whole")
            << Spans{{S, 6}, {Q, 1.5}, {S, 4}} << 10.0 << 1 << std::vector<Silence>{{6000, 7500}};
        // The threshold counts from the recording's own floor: high enough, nothing rises above
        // it, and a recording with nothing louder than its quiet parts has no pauses.
        QTest::newRow("threshold above the speech") << twoPauses << 90.0 << 2 << std::vector<Silence>{};
        QTest::newRow("silence at the start") << Spans{{Q, 3}, {S, 4}} << 10.0 << 2 << std::vector<Silence>{{0, 3000}};
        QTest::newRow("silence at the end") << Spans{{S, 3}, {Q, 3}} << 10.0 << 2 << std::vector<Silence>{{3000, kToTheEnd}};
        // Room noise alone is the recording's one level: nothing to skip to.
        QTest::newRow("all silence") << Spans{{Q, 5}} << 10.0 << 2 << std::vector<Silence>{};
        QTest::newRow("no silence") << Spans{{S, 8}} << 10.0 << 2 << std::vector<Silence>{};
    }

    void findsSilences()
    {
        QFETCH(Spans, spans);
        QFETCH(double, threshold);
        QFETCH(int, minimumSeconds);
        QFETCH(std::vector<Silence>, expected);
        const LevelEnvelope envelope = envelopeOf(spans);
        QVERIFY(envelope.buckets() > 0);
        SilenceOptions options;
        options.thresholdDecibels = threshold;
        options.minimumMilliseconds = minimumSeconds * 1000;
        const std::vector<Silence> found = FindSilences(envelope, options);
        QVERIFY2(found.size() == expected.size(), qPrintable(describe(found)));
        for (size_t i = 0; i < found.size(); ++i) {
            // A silence at the start begins at 0, one at the end ends with the recording.
            const int64_t start = expected[i].startMilliseconds == 0 ? 0 : expected[i].startMilliseconds + kEncoderDelay;
            const int64_t end = expected[i].endMilliseconds == kToTheEnd ? envelope.durationMilliseconds()
                                                                         : expected[i].endMilliseconds + kEncoderDelay;
            QVERIFY2(std::abs(found[i].startMilliseconds - start) <= kEdgeTolerance, qPrintable(describe(found)));
            QVERIFY2(std::abs(found[i].endMilliseconds - end) <= kEdgeTolerance, qPrintable(describe(found)));
        }
    }

    // Envelopes made of stretches of one RMS level each (code, seconds): a pause is a
    // stretch quieter than the rest, so a recording needs parts of both kinds to have one.
    void pausesNeedLouderPartsToStandApart_data()
    {
        QTest::addColumn<Levels>("levels");
        QTest::addColumn<std::vector<Silence>>("expected");
        QTest::newRow("one constant level for an hour") << Levels{{150, 3761.6}} << std::vector<Silence>{};
        QTest::newRow("constant room noise") << Levels{{40, 60}} << std::vector<Silence>{};
        QTest::newRow("digital silence throughout") << Levels{{0, 60}} << std::vector<Silence>{};
        QTest::newRow("a level that wavers within the threshold")
            << Levels{{150, 30}, {146, 30}, {152, 30}} << std::vector<Silence>{};
        QTest::newRow("quiet between loud parts")
            << Levels{{180, 3}, {40, 4}, {180, 3}} << std::vector<Silence>{{3000, 7000}};
        QTest::newRow("mostly quiet, a little speech")
            << Levels{{40, 50}, {180, 5}, {40, 50}} << std::vector<Silence>{{0, 50000}, {55000, 105000}};
        QTest::newRow("a tone broken by digital silence")
            << Levels{{150, 5}, {0, 3}, {150, 5}} << std::vector<Silence>{{5000, 8000}};
        QTest::newRow("one click in constant noise") << Levels{{40, 30}, {200, 0.02}, {40, 30}}
                                                     << std::vector<Silence>{};
    }

    void pausesNeedLouderPartsToStandApart()
    {
        QFETCH(Levels, levels);
        QFETCH(std::vector<Silence>, expected);
        LevelEnvelope envelope;
        envelope.sampleRate = 8000;
        for (const auto& [code, seconds] : levels) {
            for (int64_t b = 0; b < std::llround(seconds * 100); ++b) {
                envelope.levels.push_back(uint8_t(std::min(255, code + 6)));
                envelope.levels.push_back(uint8_t(code));
            }
        }
        envelope.frames = envelope.buckets() * 80;
        const std::vector<Silence> found = FindSilences(envelope, SilenceOptions());
        QVERIFY2(found == expected, qPrintable(describe(found)));
    }

    void recordingOfNoLength()
    {
        const QString path = m_folder.filePath(QStringLiteral("empty.MP3"));
        QVERIFY(WriteFileBytes(path, BuildRecording(MakeVoiceHeader(0), QByteArray())));
        LevelEnvelope envelope;
        const std::atomic<bool> never{false};
        const AnalysisResult result = AnalyseEnvelope(path, envelope, never);
        QVERIFY(result != AnalysisResult::Cancelled);
        QCOMPARE(envelope.buckets(), 0);
        QVERIFY(FindSilences(envelope, SilenceOptions()).empty());
        QVERIFY(!SkipTarget({}, 0, {}, 300));
        QVERIFY(!NextSilenceBoundary({}, 0, 300));
    }

    // Skipping from a position of a recording whose pauses are 3-7 s and 10-12.5 s.
    void skipTargets_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<std::vector<int64_t>>("stops");
        QTest::addColumn<int>("expected"); // -1: no jump
        QTest::newRow("into a pause: its end less the lead-in") << 3100 << std::vector<int64_t>{} << 6700;
        QTest::newRow("a mark inside the pause stops the jump") << 3100 << std::vector<int64_t>{5000} << 5000;
        QTest::newRow("the section end inside the pause") << 3100 << std::vector<int64_t>{14000, 6000} << 6000;
        QTest::newRow("a mark behind the position does not") << 4000 << std::vector<int64_t>{3000} << 6700;
        QTest::newRow("from a mark on, the rest of the pause") << 5000 << std::vector<int64_t>{5000} << 6700;
        QTest::newRow("in speech") << 2000 << std::vector<int64_t>{} << -1;
        QTest::newRow("within the lead-in") << 6750 << std::vector<int64_t>{} << -1;
        QTest::newRow("the second pause") << 10000 << std::vector<int64_t>{} << 12200;
    }

    void skipTargets()
    {
        QFETCH(int, position);
        QFETCH(std::vector<int64_t>, stops);
        QFETCH(int, expected);
        const LevelEnvelope envelope = envelopeOf({{S, 3}, {Q, 4}, {S, 3}, {Q, 2.5}, {S, 2}});
        std::vector<Silence> silences = FindSilences(envelope, SilenceOptions());
        QCOMPARE(silences.size(), size_t(2));
        // The table's figures are the fixture's; the silences found lie within the tolerance of them.
        QVERIFY(std::abs(silences[0].endMilliseconds - 7000 - kEncoderDelay) <= kEdgeTolerance);
        silences = {{3000, 7000}, {10000, 12500}};
        const std::optional<int64_t> target = SkipTarget(silences, position, stops, 300);
        QCOMPARE(target.value_or(-1), int64_t(expected));
    }

    void silenceBoundaries()
    {
        const std::vector<Silence> silences{{3000, 7000}, {10000, 12500}};
        QCOMPARE(NextSilenceBoundary(silences, 0, 300).value_or(-1), 3000);
        QCOMPARE(NextSilenceBoundary(silences, 3000, 300).value_or(-1), 6700);
        QCOMPARE(NextSilenceBoundary(silences, 6700, 300).value_or(-1), 10000);
        QVERIFY(!NextSilenceBoundary(silences, 12200, 300));
        // A boundary just passed while playing is not where "previous" goes.
        QCOMPARE(PreviousSilenceBoundary(silences, 10300, 300).value_or(-1), 6700);
        QCOMPARE(PreviousSilenceBoundary(silences, 12000, 300).value_or(-1), 10000);
        QVERIFY(!PreviousSilenceBoundary(silences, 3500, 300));
    }

    void envelopeOfTenHoursFitsInTenMegabytes()
    {
        // Two bytes for every 10 ms.
        LevelEnvelope envelope;
        EnvelopeAccumulator accumulator(envelope, 8000, 1);
        std::vector<float> second(8000, 0.25f);
        for (int s = 0; s < 10 * 3600; ++s)
            accumulator.add(second.data(), int64_t(second.size()));
        accumulator.finish();
        QCOMPARE(envelope.buckets(), int64_t(10 * 3600 * 100));
        QVERIFY(envelope.levels.capacity() < 10'000'000);
    }
};

TALVEN77_REGISTER_TEST(SilencesTest);
#include "SilencesTest.moc"
