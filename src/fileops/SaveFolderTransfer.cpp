#include "FileOperations.h"

#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/FileTransfer.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"
#include "settings/SaveFolderCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

const QString kBackingUp = QStringLiteral("ファイルをバックアップしています... ( %1 / %2 )");
const QString kBackupFailed = QStringLiteral("ファイルのバックアップに失敗しました。\nバックアップを中断します。");
const QString kRemoved = QStringLiteral("デバイスが取り外されました。");

// The same recording as the earlier copy at existing: the same last-write time
// (the recording's start time on the recorder, which a transfer gives its copy)
// within the two seconds a FAT save folder rounds to, and the same audio bytes
// after the tag (which the flags and the memo do not touch).
bool isEarlierCopy(const QString& source, const QString& existing)
{
    RecordingFile from, to;
    if (!from.open(source, RecordingFile::Access::Read) || !to.open(existing, RecordingFile::Access::Read))
        return false;
    struct stat fromStat {}, toStat {};
    if (::fstat(from.descriptor(), &fromStat) != 0 || ::fstat(to.descriptor(), &toStat) != 0
        || std::llabs(int64_t(fromStat.st_mtim.tv_sec) - int64_t(toStat.st_mtim.tv_sec)) > 2)
        return false;
    const int64_t fromStart = AudioStart(from), toStart = AudioStart(to);
    const int64_t length = from.size() - fromStart;
    if (length < 0 || length != to.size() - toStart)
        return false;
    constexpr size_t kChunk = 256 * 1024;
    std::vector<char> a(kChunk), b(kChunk);
    for (int64_t done = 0; done < length;) {
        const size_t want = size_t(std::min<int64_t>(int64_t(kChunk), length - done));
        if (from.readAt(fromStart + done, a.data(), want) != want || to.readAt(toStart + done, b.data(), want) != want
            || std::memcmp(a.data(), b.data(), want) != 0)
            return false;
        done += int64_t(want);
    }
    return true;
}

// Where a recording goes that may have been copied before: over its earlier
// copy (under its own name or a numbered one), else under its own name when that
// is free, else under the first free numbered name. False when every name is taken.
bool chooseTransferDestination(const QString& source, QString& destination)
{
    if (!CFileOperations::NameTaken(destination))
        return true;
    if (isEarlierCopy(source, destination))
        return true;
    // Numbered names are handed out from (2) on, so earlier copies sit before the first free one.
    for (int n = 2; n <= CFileOperations::kLastNumber; ++n) {
        const QString numbered = CFileOperations::NumberedName(destination, n);
        if (!CFileOperations::NameTaken(numbered) || isEarlierCopy(source, numbered)) {
            destination = numbered;
            return true;
        }
    }
    return false;
}

// A copy that took a read-only source's permissions still gets its flag: the
// owner may write it for that moment.
class WritableForAMoment
{
public:
    explicit WritableForAMoment(const QString& path) : m_path(QFile::encodeName(path))
    {
        struct stat st {};
        if (::stat(m_path.constData(), &st) == 0 && !(st.st_mode & S_IWUSR)
            && ::chmod(m_path.constData(), (st.st_mode & 07777) | S_IWUSR) == 0)
            m_mode = st.st_mode & 07777;
    }
    ~WritableForAMoment()
    {
        if (m_mode)
            ::chmod(m_path.constData(), *m_mode);
    }
    WritableForAMoment(const WritableForAMoment&) = delete;
    WritableForAMoment& operator=(const WritableForAMoment&) = delete;

private:
    QByteArray m_path;
    std::optional<mode_t> m_mode;
};

// The transferred flag into one file, written back into the very file it was
// read from; a failure is reported with the header write's own warning.
bool markFileTransferred(const QString& path)
{
    RecordingFile file;
    tagVoiceHeader header{};
    if (!file.open(path, RecordingFile::Access::Read) || !ReadVoiceHeader(file, header)) {
        ShowMessage(VoiceHeaderWriteFailedMessage(), MessageIcon::Warning);
        return false;
    }
    const FileIdentity identity = file.identity();
    file.close();
    header.transferredFlag = 1;
    return WriteVoiceHeader(path, header, identity);
}

} // namespace

QString CFileOperations::TransferDestinationFolder(const QString& savePath, const QString& driveRoot,
                                                  const QString& sourcePath)
{
    const QString folder = QDir::fromNativeSeparators(QFileInfo(sourcePath).path());
    const QString root = QDir::fromNativeSeparators(driveRoot);
    if (root.isEmpty())
        return {};
    const QString rootFolder = root.endsWith(u'/') ? root : root + u'/';
    if (folder + u'/' != rootFolder && !folder.startsWith(rootFolder))
        return {};
    QString relative = folder.mid(rootFolder.size());
    while (relative.startsWith(u'/'))
        relative.remove(0, 1);
    while (relative.endsWith(u'/'))
        relative.chop(1);
    const QString number = relative.left(3);
    QString parent;
    if (const qsizetype last = relative.lastIndexOf(u'/'); last >= 0) {
        const QString rest = relative.left(last);
        parent = rest.mid(rest.lastIndexOf(u'/') + 1);
    }
    return WithTrailingBackslash(WithTrailingBackslash(savePath) + number + u'/' + parent.left(4) + u'-' + parent.right(2));
}

bool CFileOperations::TransferFiles(const QList<tagFileList>& records, int sourceKind, const QString& driveRoot,
                                    const QString& savePath, bool& folderPrepared)
{
    folderPrepared = false;
    if (!IsUsableSaveFolder(savePath)) {
        ShowMessage(UnusableSaveFolderMessage(), MessageIcon::Warning);
        return false;
    }
    m_bDeviceRemoved = false;
    // A card that refuses every flag (write-protected) says so once, not once a file.
    QStringList warned;
    m_host.statusText(QStringLiteral("ファイルをバックアップしています....."));
    int done = 0;
    for (const tagFileList& record : records) {
        // A record that is not below the drive's root any more: the drive went.
        const QString folder = TransferDestinationFolder(savePath, driveRoot, record.szFilePath);
        if (folder.isEmpty()) {
            ShowMessage(kRemoved, MessageIcon::Error);
            return false;
        }
        if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
            ShowMessage(QStringLiteral("フォルダの作成に失敗しました。中断します。"), MessageIcon::Error);
            return false;
        }
        folderPrepared = true;
        QString destination = folder + record.szFileName;
        const QString source = record.szFilePath;
        if (!HasEnoughFreeSpace(destination)) {
            ShowMessage(NotEnoughFreeSpaceMessage(), MessageIcon::Information);
            ShowMessage(QStringLiteral("バックアップを中断しました。"), MessageIcon::Information);
            return false;
        }
        if (m_bDeviceRemoved) {
            ShowMessage(kRemoved, MessageIcon::Error);
            return false;
        }
        // Another recording that happens to have this name (the recorder's numbering
        // started again) is never written over.
        if (!chooseTransferDestination(source, destination)) {
            ShowMessage(kBackupFailed, MessageIcon::Error);
            return false;
        }
        // The copy takes its name only once it has been read back whole from the
        // device; a pulled card or a failing disk leaves no part of it behind.
        const FileResult copied = CopyFileDurably(source, destination, copyProgress(), true,
                                                  m_bVerifyCopies ? CopyCheck::ReadBack : CopyCheck::None);
        if (!copied.ok() || !QFileInfo(destination).isFile()) {
            ShowMessage(kBackupFailed, MessageIcon::Error);
            return false;
        }
        refresh(++done, int(records.size()), kBackingUp, record);
        if (m_host.cancelRequested())
            return false;
        // A drive that went while the file was copied takes no flag: what is at its
        // path now may be another card's recording.
        if (m_bDeviceRemoved) {
            ShowMessage(kRemoved, MessageIcon::Error);
            return false;
        }
        const MessagesShownOnce once(warned);
        markTransferred(record, destination, sourceKind);
    }
    return true;
}

void CFileOperations::markTransferred(const tagFileList& record, const QString& copy, int sourceKind)
{
    // A flag that cannot be written has been reported; that side stays unmarked,
    // and a source that stays so is offered again next time.
    const bool sourceMarked = markFileTransferred(record.szFilePath);
    {
        const WritableForAMoment writable(copy);
        markFileTransferred(copy);
    }
    if (!sourceMarked)
        return;
    tagFileList marked = record;
    marked.header.transferredFlag = 1;
    m_host.markTransferred(marked);
    m_document.MarkTransferred(sourceKind, marked);
}

