#pragma once

#include "FileListRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The records of a list that is not shown, kept in a few bytes each: the name
// and path as their UTF-16 code units (the path left out where it is the folder
// followed by the name), the times and sizes, and the header with its runs of
// zero bytes (the reserved areas, the unused end of the memo) left out.
// Unpacking gives back exactly the records that were packed.
class PackedRecords
{
public:
    PackedRecords() = default;
    PackedRecords(const QList<tagFileList>& records, const QString& folder);

    bool isEmpty() const { return m_count == 0; }
    int count() const { return m_count; }
    QList<tagFileList> unpack() const;
    qsizetype bytes() const { return m_bytes.capacity(); }

private:
    QByteArray m_bytes;
    QString m_folder;
    int m_count = 0;
};
