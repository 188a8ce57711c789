#pragma once

#include <QString>

// Folder paths held by the program end with the native separator.

// Adds a trailing separator unless the path already ends with one; an empty
// path becomes a single separator.
QString AddTrailingSeparator(const QString& path);
// Removes one trailing separator when the path ends with one.
QString RemoveTrailingSeparator(const QString& path);
// The last component of a path ("name.ext"), ignoring one trailing separator.
QString LastPathComponent(const QString& path);
// A directory entry's name as the program holds it, or a null string when
// decoding loses bytes (a name in another encoding shows U+FFFD): such an entry
// could not be opened again by the decoded name, so it is left out.
QString DecodedEntryName(const char* name);
