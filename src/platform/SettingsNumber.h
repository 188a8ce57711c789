#pragma once

#include <QSettings>
#include <QString>
#include <cstdint>

// A number kept in the settings store, or fallback when the value is missing,
// is no number of its kind, is not finite or lies outside low..high: a file
// edited by hand or damaged never gives the program a value it cannot use.
int64_t SettingsInteger(const QSettings& settings, const QString& name, int64_t fallback, int64_t low, int64_t high);
double SettingsReal(const QSettings& settings, const QString& name, double fallback, double low, double high);

// The same for an int setting, over the whole range of int unless narrower bounds are given.
int SettingsInt(const QSettings& settings, const QString& name, int fallback, int low = INT32_MIN,
                int high = INT32_MAX);
