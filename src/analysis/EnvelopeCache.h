#pragma once

#include "LevelEnvelope.h"
#include "recording/FileStamp.h"

#include <QString>
#include <optional>

// Which version of a file an envelope belongs to: the file's stamp, as the index
// takes it, but for its status-change time. A header written in place (marks, memo,
// protection) moves the status-change time while the writer puts the last-write time
// back: the audio, and so the envelope, is the same. A file replaced, rewritten or
// grown changes at least one of the fields kept.
class FileKey
{
public:
    FileKey() = default;
    explicit FileKey(const FileStamp& stamp);

    const FileStamp& stamp() const { return m_stamp; }
    bool operator==(const FileKey&) const = default;

    // The key of the file a path names now (through links); nullopt when it cannot be looked at.
    static std::optional<FileKey> Of(const QString& path);

private:
    FileStamp m_stamp; // its status-change time always zero
};

// The per-user store of envelopes, one file per recording under the cache
// folder, named by device and inode. An entry of another version of the file,
// or one that is damaged (any field, the header's as well as the levels) or of
// another format, is removed when found and counts as missing; one that cannot be
// read counts as missing, and a store that fails (full disk, no permission) is
// given up without a word: the envelope is computed again next time.
class EnvelopeCache
{
public:
    // The folder under QStandardPaths::CacheLocation unless another is given.
    explicit EnvelopeCache(QString folder = {});

    std::optional<LevelEnvelope> load(const FileKey& key) const;
    bool store(const FileKey& key, const LevelEnvelope& envelope) const;
    QString entryPath(const FileKey& key) const;
    QString folder() const { return m_folder; }

private:
    QString m_folder;
};
