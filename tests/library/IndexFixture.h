#pragma once

#include "library/RecordingIndex.h"
#include "recording/FileList.h"

#include <QStringList>

// Counts what an index answers, so a test sees that records came from it.
class CountingCache : public ScanCache
{
public:
    explicit CountingCache(ScanCache& inner) : m_inner(inner) {}
    int hits = 0;
    int stores = 0;

    void beginScan() override { m_inner.beginScan(); }
    void endScan() override { m_inner.endScan(); }
    void beginFolder(const QString& folder) override { m_inner.beginFolder(folder); }
    void endFolder() override { m_inner.endFolder(); }
    bool lookup(const QString& fileName, const FileStamp& stamp, tagFileList& record) override
    {
        const bool hit = m_inner.lookup(fileName, stamp, record);
        hits += hit;
        return hit;
    }
    void store(const QString& fileName, const FileStamp& stamp, const tagFileList& record) override
    {
        ++stores;
        m_inner.store(fileName, stamp, record);
    }
    void headerWritten(const QString& path, const FileStamp& stamp, const tagVoiceHeader& header) override
    {
        m_inner.headerWritten(path, stamp, header);
    }

private:
    ScanCache& m_inner;
};

// The records of a recursive scan of a folder through the cache given (none: as without an index).
inline QList<tagFileList> ScanTree(const QString& folder, ScanCache* cache)
{
    SetScanCache(cache);
    CFileList list(kListTemporaryTree, true);
    list.SetFolder(folder);
    list.EnsureScanned();
    SetScanCache(nullptr);
    return list.records();
}

// Every field of every record, header bytes included, as comparable text.
inline QStringList Describe(const QList<tagFileList>& records)
{
    QStringList lines;
    for (const tagFileList& r : records) {
        lines.append(QStringLiteral("%1|%2|%3|%4|%5|%6")
                         .arg(r.szFileName, r.szFilePath)
                         .arg(r.tmCreate)
                         .arg(r.nDuration)
                         .arg(r.nFileSize)
                         .arg(QString::fromLatin1(
                             QByteArray(reinterpret_cast<const char*>(&r.header), sizeof r.header).toHex())));
    }
    return lines;
}
