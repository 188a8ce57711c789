#pragma once

#include "FileResult.h"

#include <QByteArray>
#include <QString>

// The names a file is given when its own is taken, and the rename that never takes a name
// another entry holds: a name taken meanwhile gives EEXIST, and the caller tries the next.

// The numbers a name is given when it is taken: name(2), name(3)... up to this one.
constexpr int LastFileNumber = 9999;
// fileName (bytes as the file system holds them) with "(number)" after its base name, in
// place of what follows the base name's last "(" when it has one: "REC001.MP3" and
// "REC001(2).MP3" give "REC001(3).MP3" for 3. Put together, never substituted: a name
// may hold "%1" itself.
QByteArray NumberedFileName(const QByteArray& fileName, int number);

// Renames a file or folder, never replacing anything: renameat2(RENAME_NOREPLACE); where the
// file system does not support it (EINVAL/ENOSYS), link()+unlink() for files, and for folders
// a check that the target does not exist followed by rename. EEXIST when the name is taken.
// Files where link() is refused too (EPERM/EOPNOTSUPP, as on FAT) go the folders' way.
// A new name that a case-insensitive file system (FAT) finds as the very entry being renamed
// ("memo.wav" to "Memo.wav") is no taken name: the entry goes through a hidden temporary
// name (".talven77-rename-xxxxxxxx-<new name>.tmp", the entry locked with flock meanwhile;
// ENAMETOOLONG when the new name does not fit into it, EBUSY when another holds the
// entry's lock), since the kernel treats a rename onto the same entry as done. An entry
// that a crash left under that name is the user's file: RecoverTemporaryNames finishes it.
FileResult RenameNoReplace(const QString& from, const QString& to);
