#pragma once

#include <QSettings>
#include <QString>
#include <memory>

// The program's title, which is also the caption of every message box and the
// application key of its settings.
inline const QString kProgramTitle = QStringLiteral("TALVEN-77-PC Player");
inline const QString kCompanyName = QStringLiteral("Corvane");
// The name the program is installed under on the desktop: its desktop entry
// (talven77-pc-player.desktop) and its themed icon. Media controls, notifications
// and the window manager match the running program to the entry by it.
inline const QString kDesktopEntryName = QStringLiteral("talven77-pc-player");

// The per-user settings store: ~/.config/Corvane/TALVEN-77-PC Player.conf on Linux,
// the registry key Software\Corvane\TALVEN-77-PC Player on Windows.
inline std::unique_ptr<QSettings> OpenProgramSettings()
{
    return std::make_unique<QSettings>(kCompanyName, kProgramTitle);
}

// Writes the store's changes out; false only when the file could not be written.
// A file that the settings library found malformed when it read it back is still
// written whole (its status then says FormatError), which is no failure.
inline bool SyncSettings(QSettings& settings)
{
    settings.sync();
    return settings.status() != QSettings::AccessError;
}
