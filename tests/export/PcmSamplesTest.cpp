#include "export/PcmSamples.h"
#include "TestRegistry.h"

#include <QTest>
#include <cmath>
#include <limits>
#include <vector>

class PcmSamplesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toPcm16_data()
    {
        QTest::addColumn<float>("sample");
        QTest::addColumn<int>("pcm");
        const float step = 1.0f / 32768;
        const float infinity = std::numeric_limits<float>::infinity();
        QTest::newRow("silence") << 0.0f << 0;
        QTest::newRow("one step") << step << 1;
        QTest::newRow("below half a step") << 0.49f * step << 0;
        QTest::newRow("above half a step") << 0.51f * step << 1;
        QTest::newRow("half a step, to even") << 0.5f * step << 0;
        QTest::newRow("one and a half steps, to even") << 1.5f * step << 2;
        QTest::newRow("half a step down, to even") << -0.5f * step << 0;
        QTest::newRow("two and a half steps down, to even") << -2.5f * step << -2;
        QTest::newRow("just below the top") << 32766.4f * step << 32766;
        QTest::newRow("full scale up, clipped") << 1.0f << 32767;
        QTest::newRow("full scale down") << -1.0f << -32768;
        QTest::newRow("beyond the top") << 1.5f << 32767;
        QTest::newRow("beyond the bottom") << -3.0f << -32768;
        QTest::newRow("beyond the 32-bit range") << 1e10f << 32767;
        QTest::newRow("beyond the 32-bit range down") << -1e10f << -32768;
        QTest::newRow("infinity") << infinity << 32767;
        QTest::newRow("minus infinity") << -infinity << -32768;
    }

    // Runs of every length around the eight that are converted at a time give the same
    // value at every position, and nothing past their end is written.
    void toPcm16()
    {
        QFETCH(float, sample);
        QFETCH(int, pcm);
        constexpr int16_t untouched = 12345;
        for (const size_t length : {1, 7, 8, 9, 16, 23}) {
            const std::vector<float> samples(length, sample);
            std::vector<int16_t> converted(length + 1, untouched);
            ToPcm16(samples.data(), length, converted.data());
            for (size_t i = 0; i < length; ++i) {
                if (converted[i] != pcm)
                    QFAIL(qPrintable(QStringLiteral("length %1, position %2: %3")
                                         .arg(length)
                                         .arg(i)
                                         .arg(converted[i])));
            }
            QCOMPARE(converted[length], untouched);
        }
    }
};

TALVEN77_REGISTER_TEST(PcmSamplesTest);
#include "PcmSamplesTest.moc"
