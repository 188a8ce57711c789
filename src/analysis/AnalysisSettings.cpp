#include "AnalysisSettings.h"

#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"

#include <cmath>

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
    result.silence.thresholdDecibels = SettingsReal(*settings, QStringLiteral("SilenceThreshold"),
                                                    result.silence.thresholdDecibels, 0, 60);
    const double minimumSeconds =
        SettingsReal(*settings, QStringLiteral("SilenceMinimum"), double(result.silence.minimumMilliseconds) / 1000.0,
                     double(SilenceOptions::kShortestMinimum) / 1000.0, double(SilenceOptions::kLongestMinimum) / 1000.0);
    result.silence.minimumMilliseconds = int64_t(std::llround(minimumSeconds * 1000.0));
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
