#include "AnalysisSettings.h"

#include "platform/ProgramIdentity.h"

#include <algorithm>

namespace {

const QString kGroup = QStringLiteral("Analysis");

} // namespace

AnalysisSettings AnalysisSettings::Load()
{
    AnalysisSettings result;
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kGroup);
    result.showOverview = settings->value(QStringLiteral("ShowOverview"), result.showOverview).toBool();
    result.skipSilence = settings->value(QStringLiteral("SkipSilence"), result.skipSilence).toBool();
    bool ok = false;
    const double threshold = settings->value(QStringLiteral("SilenceThreshold")).toDouble(&ok);
    if (ok && threshold >= 0 && threshold <= 60)
        result.silence.thresholdDecibels = threshold;
    const double minimum = settings->value(QStringLiteral("SilenceMinimum")).toDouble(&ok);
    if (ok)
        result.silence.minimumMilliseconds = std::clamp(int64_t(minimum * 1000), SilenceOptions::kShortestMinimum,
                                                        SilenceOptions::kLongestMinimum);
    return result;
}

bool AnalysisSettings::save() const
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kGroup);
    settings->setValue(QStringLiteral("ShowOverview"), showOverview);
    settings->setValue(QStringLiteral("SkipSilence"), skipSilence);
    settings->setValue(QStringLiteral("SilenceThreshold"), silence.thresholdDecibels);
    settings->setValue(QStringLiteral("SilenceMinimum"), double(silence.minimumMilliseconds) / 1000.0);
    settings->endGroup();
    return SyncSettings(*settings);
}
