#pragma once

#include <QString>

// Whether a save folder setting can be written into: it must name an absolute folder.
// An empty or relative one would put the user's recordings wherever the program happened
// to be started (or at the top of the file system), so the transfer and the file commands
// refuse to run on it, with UnusableSaveFolderMessage(), until a usable one is set.
bool IsUsableSaveFolder(const QString& savePath);
QString UnusableSaveFolderMessage();
