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
