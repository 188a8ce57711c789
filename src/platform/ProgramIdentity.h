#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// The program's title, which is also the caption of every message box and the
// application key of its settings.
inline const QString kProgramTitle = QStringLiteral("TALVEN-77-PC Player");
inline const QString kCompanyName = QStringLiteral("Corvane");

// The per-user settings store: ~/.config/Corvane/TALVEN-77-PC Player.conf on Linux,
// the registry key Software\Corvane\TALVEN-77-PC Player on Windows.
inline std::unique_ptr<QSettings> OpenProgramSettings()
{
    return std::make_unique<QSettings>(kCompanyName, kProgramTitle);
}
