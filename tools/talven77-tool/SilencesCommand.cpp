#include "Commands.h"
#include "JsonLines.h"
#include "analysis/AnalysisSettings.h"
#include "analysis/CachedEnvelope.h"
#include "analysis/Silences.h"

#include <QJsonArray>
#include <cmath>

namespace {

double seconds(int64_t milliseconds)
{
    return double(milliseconds) / 1000.0;
}

} // namespace

int RunSilences(const QStringList& arguments)
{
    // The user's own settings unless the command line says otherwise.
    SilenceOptions options = AnalysisSettings::Load().silence;
    QStringList files;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        bool ok = true;
        if (argument == QStringLiteral("--threshold") && hasValue) {
            const double threshold = arguments[++i].toDouble(&ok);
            ok = ok && std::isfinite(threshold) && threshold >= 0 && threshold <= 60;
            options.thresholdDecibels = threshold;
        } else if (argument == QStringLiteral("--min") && hasValue) {
            const double minimum = arguments[++i].toDouble(&ok);
            ok = ok && minimum >= 1 && minimum <= 10;
            options.minimumMilliseconds = int64_t(std::llround(minimum * 1000));
        } else if (argument == QStringLiteral("--")) {
            files += arguments.mid(i + 1);
            break;
        } else if (!argument.startsWith(u'-')) {
            files.append(argument);
        } else {
            ok = false;
        }
        if (!ok) {
            PrintError(QStringLiteral("silences: bad argument near %1 (--threshold 0-60 dB, --min 1-10 s)")
                           .arg(argument));
            return 2;
        }
    }
    if (files.isEmpty()) {
        PrintError(QStringLiteral("usage: silences FILE... [--threshold DB] [--min SECONDS]"));
        return 2;
    }
    const EnvelopeCache cache;
    int status = 0;
    for (const QString& path : files) {
        LevelEnvelope envelope;
        if (CachedEnvelope(path, cache, envelope) != AnalysisResult::Complete) {
            PrintJsonLine({{QStringLiteral("path"), path},
                           {QStringLiteral("error"), QStringLiteral("cannot be decoded as MPEG audio")}});
            status = 1;
            continue;
        }
        QJsonArray stretches;
        for (const Silence& silence : FindSilences(envelope, options))
            stretches.append(QJsonObject{{QStringLiteral("start"), seconds(silence.startMilliseconds)},
                                         {QStringLiteral("end"), seconds(silence.endMilliseconds)}});
        PrintJsonLine({{QStringLiteral("path"), path},
                       {QStringLiteral("duration"), seconds(envelope.durationMilliseconds())},
                       {QStringLiteral("noiseFloor"), LevelEnvelope::Decibels(NoiseFloorCode(envelope))},
                       {QStringLiteral("silences"), stretches}});
    }
    return status;
}
