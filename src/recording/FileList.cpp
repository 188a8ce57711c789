#include "FileList.h"

#include "RecorderIdentity.h"
#include "RecordingFile.h"
#include "ScanCache.h"
#include "VoiceDuration.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <ctime>

namespace {

std::atomic<int> g_nextListId{0};

int64_t nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool hasMp3Extension(const char* name, size_t length)
{
    return length >= 4 && strncasecmp(name + length - 4, ".mp3", 4) == 0;
}

bool isFolderEntry(const dirent* entry, const QByteArray& path)
{
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    // Symbolic links to folders are not followed, so a link loop cannot trap the scan.
    struct stat st {};
    return lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// FIFOs, devices and sockets the enumeration already names are passed over
// without opening them (opening a device can have effects of its own); links
// and unknown types are left to the open, which refuses what is not a regular file.
bool isSpecialEntry(const dirent* entry)
{
    return entry->d_type == DT_FIFO || entry->d_type == DT_CHR || entry->d_type == DT_BLK
        || entry->d_type == DT_SOCK;
}

// How long a scan waits for a recording that another operation holds: a header
// write holds it for one write and one sync.
constexpr int kHeldWaitMs = 1000;
// How often a file whose status moves while it is read is read again.
constexpr int kReadsOfAMovingFile = 4;

enum class ReadResult { Recording, NotARecording, Unread };

// Reads a recording's header, creation time and duration through one open.
// A file written in place while it is read (by a program that takes no lock)
// shows it in its status: it is read again, and so is one whose header does
// not parse while its status moved. One held by another operation is waited for.
ReadResult readRecording(int folder, const char* name, bool knownRegular, tagFileList& record, FileStamp& stamp)
{
    QElapsedTimer waited;
    waited.start();
    int pause = 5;
    for (int reads = 0; reads < kReadsOfAMovingFile;) {
        RecordingFile file;
        if (!file.openAt(folder, name, RecordingFile::Access::Read, knownRegular)) {
            if (file.error() != EWOULDBLOCK || waited.elapsed() >= kHeldWaitMs)
                return file.error() == EWOULDBLOCK ? ReadResult::Unread : ReadResult::NotARecording;
            QThread::msleep(unsigned(pause));
            pause = std::min(pause * 2, 100);
            continue;
        }
        ++reads;
        const bool header = ReadVoiceHeader(file, record.header);
        if (header) {
            record.nFileSize = uint32_t(file.size());
            record.tmCreate = file.creationTime();
            record.nDuration = MeasureMp3Duration(file);
        }
        if (file.currentStamp() == file.stamp()) {
            stamp = file.stamp();
            return header ? ReadResult::Recording : ReadResult::NotARecording;
        }
    }
    return ReadResult::Unread;
}

// Brackets one scan or one folder of it for the scan cache, when there is one.
class CacheScope
{
public:
    explicit CacheScope(ScanCache* cache) : m_cache(cache)
    {
        if (m_cache)
            m_cache->beginScan();
    }
    CacheScope(ScanCache* cache, const QByteArray& nativeFolder) : m_cache(cache), m_folder(true)
    {
        if (m_cache)
            m_cache->beginFolder(QFile::decodeName(nativeFolder));
    }
    ~CacheScope()
    {
        if (!m_cache)
            return;
        if (m_folder)
            m_cache->endFolder();
        else
            m_cache->endScan();
    }
    CacheScope(const CacheScope&) = delete;
    CacheScope& operator=(const CacheScope&) = delete;

private:
    ScanCache* m_cache;
    bool m_folder = false;
};

} // namespace

CFileList::CFileList(int nKind, bool bRecursive)
    : m_nId(DrawId()), m_nKind(nKind), m_bRecursive(bRecursive)
{
}

int CFileList::DrawId()
{
    return g_nextListId++;
}

bool CFileList::InitDevice(const QString& driveRoot)
{
    if (m_nKind >= kListSaveFolder || !m_strRoot.isEmpty())
        return false;
    const QString root = driveRoot.size() > 1 ? RemoveTrailingSeparator(driveRoot) : driveRoot;
    const uint16_t number = ReadRecorderNumber(root);
    if (number == 0)
        return false;
    m_strRoot = root;
    m_nDeviceNo = number;
    m_strFolder = RecorderFolderPath(root, number);
    Rescan();
    buildDeviceLabel();
    return true;
}

void CFileList::SetFolder(const QString& folderPath)
{
    if (m_nKind < kListSaveFolder)
        return;
    setFolderAndLabel(folderPath);
}

void CFileList::Clear()
{
    m_records = {};
    m_packed = {};
}

void CFileList::Rest()
{
    if (m_nKind != kListSaveFolder && m_nKind != kListRegistered)
        return;
    m_bResting = true;
    if (m_records.isEmpty())
        return;
    m_packed = PackedRecords(m_records, m_strFolder);
    m_records = {};
}

void CFileList::unpack() const
{
    if (m_packed.isEmpty())
        return;
    m_records = m_packed.unpack();
    m_packed = {};
}

bool CFileList::EnsureScanned()
{
    m_bResting = false;
    unpack();
    if (!m_bInitialized) {
        m_records = {};
        m_bInitialized = true;
    }
    if (m_nKind < kListSaveFolder) {
        if (!hasDevice())
            return false;
        Rescan();
        buildDeviceLabel();
        return true;
    }
    if (!m_strFolder.isEmpty() && m_records.isEmpty())
        Rescan();
    return false;
}

QString CFileList::Refresh()
{
    if (m_nKind >= kListSaveFolder)
        Rescan();
    else if (hasDevice())
        buildDeviceLabel();
    return m_strLabel;
}

QString CFileList::ChangeFolder(const QString& folderPath)
{
    if (m_nKind >= kListSaveFolder) {
        unpack();
        setFolderAndLabel(folderPath);
        if (m_nKind == kListSaveFolder) {
            for (tagFileList& record : m_records)
                record.szFilePath = m_strFolder + record.szFileName;
        }
    } else if (hasDevice()) {
        Rescan();
        buildDeviceLabel();
    }
    return m_strLabel;
}

void CFileList::Rescan()
{
    // Assigned afresh, not cleared: a list that stays empty gives its memory back.
    // A folder scanned again mostly holds what it held.
    const qsizetype before = GetRecordCount();
    m_records = {};
    m_packed = {};
    m_unread = {};
    m_undecodable = {};
    if (!m_strFolder.isEmpty()) {
        m_records.reserve(before);
        const CacheScope scan(CurrentScanCache());
        scanFolder(QFile::encodeName(m_strFolder));
    }
    // The room the list grew into while scanning is not needed any more.
    m_records.squeeze();
    if (m_bResting)
        Rest();
}

void CFileList::scanFolder(const QByteArray& nativeFolder)
{
    DIR* dir = opendir(nativeFolder.constData());
    if (!dir)
        return;
    ScanCache* const cache = CurrentScanCache();
    const CacheScope folder(cache, nativeFolder);
    // What the cache may keep of the folder as a whole, when it holds still while read.
    FolderStamp before;
    const int64_t readAt = nowNs();
    bool listable = cache && FolderStamp::Of(dirfd(dir), before);
    FolderListing listing;
    // Names are valid in the file-name encoding (checked below), so the folder's
    // text followed by the name's is the text of the whole path.
    const QString folderText = QFile::decodeName(nativeFolder);
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        const QByteArray path = nativeFolder + name;
        if (isFolderEntry(entry, path)) {
            if (listable)
                listing.subfolders.append(QByteArray(name));
            if (m_bRecursive && DecodedEntryName(name).isNull())
                m_undecodable.append(path);
            else if (m_bRecursive)
                scanFolder(path + '/');
            continue;
        }
        if (!hasMp3Extension(name, std::strlen(name)) || isSpecialEntry(entry))
            continue;
        if (m_records.size() >= kMaxRecords) {
            listable = false;
            continue;
        }
        const QString fileName = DecodedEntryName(name);
        if (fileName.isNull()) {
            m_undecodable.append(path);
            if (listable)
                listing.undecodableFiles.append(QByteArray(name));
            continue;
        }
        tagFileList record;
        FileStamp stamp;
        if (cache && FileStamp::OfRegularFileAt(dirfd(dir), name, stamp) && cache->lookup(fileName, stamp, record)) {
            record.szFileName = fileName;
            record.szFilePath = folderText + fileName;
            m_records.append(record);
            continue;
        }
        stamp = {};
        switch (readRecording(dirfd(dir), name, entry->d_type == DT_REG, record, stamp)) {
        case ReadResult::Recording:
            break;
        case ReadResult::NotARecording:
            // A file that could not be opened has no stamp to tell its next change by.
            if (stamp == FileStamp{})
                listable = false;
            else if (listable)
                listing.others.append({QByteArray(name), stamp});
            continue;
        case ReadResult::Unread:
            m_unread.append(folderText + fileName);
            listable = false;
            continue;
        }
        record.szFileName = fileName;
        record.szFilePath = folderText + fileName;
        m_records.append(record);
        if (cache)
            cache->store(fileName, stamp, record);
    }
    FolderStamp after;
    if (listable && FolderStamp::Of(dirfd(dir), after) && after == before && before.settledBefore(readAt))
        cache->folderListed(before, listing);
    closedir(dir);
}

CFileList::DateRange CFileList::GetDateRange() const
{
    DateRange range{QStringLiteral("999999"), QStringLiteral("000000")};
    unpack();
    for (const tagFileList& record : m_records) {
        const QString date = FormatLocalTime(record.tmCreate, "%y%m%d");
        if (date < range.earliest)
            range.earliest = date;
        if (date > range.latest)
            range.latest = date;
    }
    return range;
}

void CFileList::setFolderAndLabel(const QString& folderPath)
{
    m_strFolder = AddTrailingSeparator(folderPath);
    m_strLabel = m_nKind == kListSaveFolder ? LastPathComponent(m_strFolder)
                                            : RemoveTrailingSeparator(m_strFolder);
}

void CFileList::buildDeviceLabel()
{
    const DateRange range = GetDateRange();
    m_strLabel = QStringLiteral("(%1)%2-%3")
                     .arg(LookUpRecorderName(uint16_t(m_nDeviceNo)), range.earliest, range.latest);
}

int CFileList::indexOf(const QString& fileName) const
{
    unpack();
    for (int i = 0; i < m_records.size(); ++i) {
        if (m_records[i].szFileName == fileName)
            return i;
    }
    return -1;
}

void CFileList::SetHeaderAt(int position, const tagVoiceHeader& header)
{
    unpack();
    if (position >= 0 && position < m_records.size())
        m_records[position].header = header;
}

void CFileList::RenameRecord(const QString& oldFileName, const QString& newFileName)
{
    const int index = indexOf(oldFileName);
    if (index < 0)
        return;
    tagFileList& record = m_records[index];
    const QString folder = record.szFilePath.left(record.szFilePath.lastIndexOf(QDir::separator()) + 1);
    const bool hasExtension = newFileName.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive);
    record.szFilePath = folder + newFileName + (hasExtension ? QString() : QStringLiteral(".mp3"));
    record.szFileName = newFileName;
}

bool CFileList::AddRecordUnique(const tagFileList& record)
{
    if (indexOf(record.szFileName) >= 0)
        return false;
    m_records.append(record);
    return true;
}

bool CFileList::RemoveRecord(const QString& fileName)
{
    const int index = indexOf(fileName);
    if (index < 0)
        return false;
    m_records.removeAt(index);
    return true;
}

void CFileList::MarkRecordTransferred(const QString& fileName)
{
    const int index = indexOf(fileName);
    if (index >= 0)
        m_records[index].header.transferredFlag = 1;
}

void CFileList::MarkRecordTransferred(const tagFileList& record)
{
    unpack();
    for (tagFileList& listed : m_records) {
        if (listed.szFilePath == record.szFilePath) {
            listed.header.transferredFlag = 1;
            return;
        }
    }
}

const tagFileList* CFileList::RecordAt(int position) const
{
    unpack();
    if (position < 0 || position >= m_records.size())
        return nullptr;
    return &m_records[position];
}
