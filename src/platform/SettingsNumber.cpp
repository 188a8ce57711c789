#include "SettingsNumber.h"

#include <cmath>

int64_t SettingsInteger(const QSettings& settings, const QString& name, int64_t fallback, int64_t low, int64_t high)
{
    const QVariant stored = settings.value(name);
    if (!stored.isValid())
        return fallback;
    bool ok = false;
    // Read through its text whatever its type (a double converted directly could be
    // out of range): a whole decimal integer, so "1e300", "2.5" or "12abc" are none.
    const qlonglong value = stored.toString().trimmed().toLongLong(&ok);
    return ok && value >= low && value <= high ? int64_t(value) : fallback;
}

double SettingsReal(const QSettings& settings, const QString& name, double fallback, double low, double high)
{
    const QVariant stored = settings.value(name);
    if (!stored.isValid())
        return fallback;
    bool ok = false;
    const double value = stored.toDouble(&ok);
    return ok && std::isfinite(value) && value >= low && value <= high ? value : fallback;
}

int SettingsInt(const QSettings& settings, const QString& name, int fallback, int low, int high)
{
    return int(SettingsInteger(settings, name, fallback, low, high));
}
