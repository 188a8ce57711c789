#pragma once

#include "FileListRecord.h"
#include "PackedRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What a list stands for.
enum ListKind {
    kListRecorder = 1,     // the recorder attached by USB
    kListCard = 2,         // the recorder's SD card in a card reader
    kListSaveFolder = 3,   // one subfolder of the save folder
    kListRegistered = 4,   // a folder the user registered
    kListTemporaryTree = 5 // a folder and its subfolders, looked through by folder deletion
};

// The recordings of one place, in scan order.
class CFileList
{
public:
    static constexpr int kMaxRecords = 9999;

    // Takes the next id of a process-wide counter that starts at 0.
    CFileList(int nKind, bool bRecursive);
    // Draws the next id of that counter without making a list.
    static int DrawId();

    int nId() const { return m_nId; }
    int nKind() const { return m_nKind; }
    bool bInitialized() const { return m_bInitialized; }
    bool bRecursive() const { return m_bRecursive; }
    const QString& strRoot() const { return m_strRoot; }
    const QString& strFolder() const { return m_strFolder; }
    const QString& strLabel() const { return m_strLabel; }
    int nDeviceNo() const { return m_nDeviceNo; }

    // Recorder and card lists: reads the drive's recorder number, sets the
    // recording folder, scans it and builds the label. False for other kinds,
    // for a list already set up and for a drive without a recorder number.
    bool InitDevice(const QString& driveRoot);
    // Lists of folders: sets the folder and the label without scanning.
    void SetFolder(const QString& folderPath);
    // Scans on first use; true only when a recorder or card list was scanned.
    bool EnsureScanned();
    QString Refresh();
    QString ChangeFolder(const QString& folderPath);
    void Rescan();
    // Empties the list without scanning.
    void Clear();
    // A list of one folder that is no longer shown keeps its records packed in a
    // few bytes each (a scan while it rests packs them again); any use of them
    // unpacks them, and EnsureScanned, when it is shown again, ends the rest.
    // Other lists keep theirs as they are.
    void Rest();

    struct DateRange
    {
        QString earliest;
        QString latest;
    };
    // The smallest and largest creation dates as "%y%m%d" in local time;
    // "999999" and "000000" for an empty list.
    DateRange GetDateRange() const;

    void SetHeaderAt(int position, const tagVoiceHeader& header);
    void RenameRecord(const QString& oldFileName, const QString& newFileName);
    bool AddRecordUnique(const tagFileList& record);
    bool RemoveRecord(const QString& fileName);
    void MarkRecordTransferred(const QString& fileName);
    // The record of this file (by path: a recursive list may hold one name in
    // several folders) carries the transferred flag.
    void MarkRecordTransferred(const tagFileList& record);

    int GetRecordCount() const { return m_packed.isEmpty() ? int(m_records.size()) : m_packed.count(); }
    // The record at a position, or nullptr outside 0..count-1. Copy what you keep.
    const tagFileList* RecordAt(int position) const;
    const QList<tagFileList>& records() const
    {
        unpack();
        return m_records;
    }
    // The recordings the last scan could not read: held by another operation
    // (its header being written) beyond a short wait, or changing while read
    // again and again. They are missing from the list for now, not for good.
    const QStringList& unreadFiles() const { return m_unread; }
    // The native paths of what the last scan left out because their names are not valid
    // in the file-name encoding: files named as recordings and, in a recursive list,
    // folders (nothing could open them again by a decoded name).
    const QList<QByteArray>& UndecodableNames() const { return m_undecodable; }

private:
    void scanFolder(const QByteArray& nativeFolder);
    void setFolderAndLabel(const QString& folderPath);
    void buildDeviceLabel();
    bool hasDevice() const { return !m_strRoot.isEmpty() && m_nDeviceNo != 0; }
    int indexOf(const QString& fileName) const;
    void unpack() const;

    bool m_bInitialized = false;
    mutable QList<tagFileList> m_records;
    mutable PackedRecords m_packed; // the records while the list rests (m_records is empty then)
    bool m_bResting = false;
    QStringList m_unread;
    QList<QByteArray> m_undecodable;
    int m_nId;
    int m_nKind;
    QString m_strRoot;
    QString m_strFolder;
    QString m_strLabel;
    int m_nDeviceNo = 0;
    bool m_bRecursive;
};
