#pragma once

#include <QString>
#include <set>
#include <utility>
#include <sys/types.h>

// An operation that copies many files (a transfer, a paste) holds one of these while it
// runs: each folder its copies write into (on this thread) is then tidied of stale
// temporary copies before the first file only, rather than read whole before every file.
// A new operation tidies every folder again. Without one, each copy tidies its folder.
class TidyEachFolderOnce
{
public:
    TidyEachFolderOnce();
    ~TidyEachFolderOnce();
    TidyEachFolderOnce(const TidyEachFolderOnce&) = delete;
    TidyEachFolderOnce& operator=(const TidyEachFolderOnce&) = delete;

private:
    std::set<std::pair<dev_t, ino_t>> m_tidied;
    std::set<std::pair<dev_t, ino_t>>* m_outer;
};

// Removes from folder the program's temporary copies whose writer is gone (a crash, a
// kill): each is locked exclusively first, so a copy still being written, by this
// process, another one or another machine sharing the folder, stays.
void RemoveStaleCopies(const QString& folder);
// The start-up tidy-up of an absolute folder and, withSubfolders, every folder below it
// (links not followed, other file systems not entered): stale temporary copies are
// removed, and an entry that a crash left under a rename's hidden name gets its new name
// (it is the user's recording or folder: never removed; under the first free numbered
// name, name(2) on, when the new name is taken by now).
void RecoverTemporaryNames(const QString& folder, bool withSubfolders);
