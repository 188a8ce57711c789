#pragma once

#include "FileResult.h"

#include <QString>
#include <cerrno>

// Moves a file or folder to the desktop's trash as the freedesktop.org trash layout has it:
// into the home trash ($XDG_DATA_HOME/Trash) when the entry lies on the home trash's file
// system, else into the trash at the top of its own file system ($topdir/.Trash/$uid where
// $topdir/.Trash is a sticky folder, else $topdir/.Trash-$uid). The entry's .trashinfo is
// made first, under a name no other entry has (O_EXCL), with the path it had (absolute in the
// home trash, relative to $topdir in a top one) percent-encoded byte by byte and the local
// time of the deletion; the entry is then renamed into the trash's files folder under that
// name, never replacing anything. Nothing is ever copied into a trash.
// pathInTrash: where the entry went. Fails with kNoTrash when no trash on the entry's file
// system can take it (none can be made, its .trashinfo cannot be written); the entry is
// then where it was. Other errors are the entry's own (gone, in use, not permitted).
inline constexpr int kNoTrash = EXDEV;
FileResult MoveToTrash(const QString& path, QString* pathInTrash);

// The .trashinfo file that belongs to an entry in a trash's files folder.
QString TrashInfoPath(const QString& pathInTrash);
