#pragma once

#include <QByteArray>
#include <QString>

// Small helpers for tests that work on real files.
QByteArray ReadWholeFile(const QString& path);
