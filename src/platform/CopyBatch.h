#pragma once

#include "DurableCopy.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

// Copies made in stages, so that many share their syncs. add() writes a file into a
// temporary file beside its destination as CopyFileDurably does (the patches put in, the
// source's permission bits, access and modification times), without syncing or naming it.
// commit() then makes every pending copy durable with one sync of each file system they
// are on (syncfs, which reports any write error of that file system since add), reads
// each back from the device with CopyCheck::ReadBack, renames each over its destination
// and syncs each of their folders once. Nothing carries a destination's name before its
// bytes are on the device; whatever is not committed is removed (by a failed commit, by
// discard, or when the batch goes).
class CopyBatch
{
public:
    explicit CopyBatch(CopyCheck check = CopyCheck::None) : m_check(check) {}
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    // The same checks and errors as CopyFileDurably; a patch that does not lie inside
    // the source gives EINVAL.
    FileResult add(const QString& source, const QString& destination, const CopyProgress& progress = {},
                   const std::vector<CopyPatch>& patches = {});
    // Copies added and not yet committed.
    int pending() const { return int(m_pending.size()); }
    // committed: how many of the pending copies, in the order added, now carry their
    // destination's name (all when ok, those before the one that failed otherwise).
    FileResult commit(int* committed = nullptr);
    // Removes every pending copy.
    void discard();

private:
    struct Pending
    {
        int in = -1;       // the source
        int folder = -1;   // the destination's folder
        int out = -1;      // the temporary file
        QByteArray folderPath;
        QByteArray temporary;
        QByteArray name;
        int64_t size = 0;
        std::vector<CopyPatch> patches;
    };
    static void remove(Pending& copy);
    CopyCheck m_check;
    std::vector<Pending> m_pending;
};
