#include "FileOperations.h"

#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/FileTransfer.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "recording/FileList.h"
#include "recording/RecordingFile.h"
#include "recording/VoiceDuration.h"
#include "recording/VoiceHeader.h"

#include <QDir>
#include <QFileInfo>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <optional>
#include <vector>
#include <sys/stat.h>

namespace {

const QString kCopying = QStringLiteral("ファイルをコピーしています... ( %1 / %2 )");
const QString kMoving = QStringLiteral("ファイルを移動しています... ( %1 / %2 )");
const QString kDeleting = QStringLiteral("ファイルを削除しています... ( %1 / %2 )");
const QString kBackingUp = QStringLiteral("ファイルをバックアップしています... ( %1 / %2 )");
const QString kBackupFailed = QStringLiteral("ファイルのバックアップに失敗しました。\nバックアップを中断します。");

// Between the chunks of a file: the window shows the bytes and gets its turn.
CopyProgress reportTo(FileOperationsHost& host)
{
    return [&host](int64_t written, int64_t total) {
        host.setFileProgress(written, total);
        host.processEvents();
    };
}

bool exists(const QString& path)
{
    // A dangling link is a name that is taken too.
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

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
    if (length != to.size() - toStart)
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
    if (!exists(destination))
        return true;
    if (isEarlierCopy(source, destination))
        return true;
    // Numbered names are handed out from (2) on, so earlier copies sit before the first free one.
    for (int n = 2; n <= CFileOperations::kLastNumber; ++n) {
        const QString numbered = CFileOperations::NumberedName(destination, n);
        if (!exists(numbered) || isEarlierCopy(source, numbered)) {
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

CFileOperations::CFileOperations(CTALVEN77PCDoc& document, FileOperationsHost& host)
    : m_document(document), m_host(host)
{
}

void CFileOperations::Remember(const QList<tagFileList>& records, int mode)
{
    m_remembered = records;
    m_nClipboardMode = mode;
}

void CFileOperations::Forget()
{
    m_remembered.clear();
    m_nClipboardMode = ModeNone;
}

QString CFileOperations::WithTrailingBackslash(const QString& path)
{
    return AddTrailingSeparator(path);
}

QString CFileOperations::NumberedName(const QString& destination, int number)
{
    const QFileInfo info(destination);
    const QString folder = WithTrailingBackslash(QDir::toNativeSeparators(info.path()));
    const QString fileName = info.fileName();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    QString base = dot > 0 ? fileName.left(dot) : fileName;
    const QString extension = dot > 0 ? fileName.mid(dot) : QString();
    const qsizetype bracket = base.lastIndexOf(u'(');
    if (bracket >= 0)
        base.truncate(bracket);
    return folder + QStringLiteral("%1(%2)").arg(base).arg(number) + extension;
}

bool CFileOperations::MakeNumberedName(QString& destination)
{
    for (int n = 2; n <= kLastNumber; ++n) {
        const QString candidate = NumberedName(destination, n);
        if (!exists(candidate)) {
            destination = candidate;
            return true;
        }
    }
    return false;
}

int CFileOperations::CheckOverwrite(const QString& source, QString& destination)
{
    if (!exists(destination))
        return Proceed;
    if (!m_bApplyToAll) {
        int choice = m_nLastChoice;
        bool applyToAll = false;
        if (!m_host.askOverwrite(source, destination, choice, applyToAll))
            return CancelAll;
        m_nLastChoice = choice;
        m_bApplyToAll = applyToAll;
    }
    switch (m_nLastChoice) {
    case Skip:
        return SkipFile;
    case RenameAutomatically:
        // With every numbered name taken the file is skipped, never written over another.
        return MakeNumberedName(destination) ? Proceed : SkipFile;
    default:
        return Proceed;
    }
}

int CFileOperations::prepareDestination(const QString& source, QString& destination, const QString& cancelledText)
{
    const int check = CheckOverwrite(source, destination);
    if (check == CancelAll) {
        ShowMessage(cancelledText, MessageIcon::Information);
        return CancelAll;
    }
    if (check == SkipFile)
        return SkipFile;
    if (!HasEnoughFreeSpace(destination)) {
        ShowMessage(NotEnoughFreeSpaceMessage(), MessageIcon::Information);
        return CancelAll;
    }
    return Proceed;
}

void CFileOperations::refresh(int done, int total, const QString& format, const tagFileList& record)
{
    m_host.setProgress(done, format.arg(done).arg(total), record.szFileName);
    m_host.processEvents();
}

bool CFileOperations::PasteCopy(const QString& destinationFolder)
{
    return copyFiles(destinationFolder, 0, true);
}

bool CFileOperations::CopyFilesToFolder(int targetListId)
{
    const QString folder = m_document.GetListFolder(targetListId);
    if (folder.isEmpty())
        return false;
    return copyFiles(folder, targetListId, false);
}

bool CFileOperations::copyFiles(const QString& destinationFolder, int targetListId, bool paste)
{
    const QString folder = WithTrailingBackslash(destinationFolder);
    m_host.statusText(QStringLiteral("ファイルをコピーしています....."));
    int done = 0;
    for (tagFileList record : m_remembered) {
        QString destination = folder + record.szFileName;
        const QString source = record.szFilePath;
        const int check = prepareDestination(source, destination, QStringLiteral("ファイルコピーを中断しました。"));
        if (check == CancelAll)
            return false;
        if (check == SkipFile)
            continue;
        if (paste && destination == source) {
            ShowMessage(QStringLiteral("コピー元とコピー先が同じフォルダです。"), MessageIcon::Error);
            return false;
        }
        // The source's times come after the cancel check below, as a cancelled file keeps none.
        const FileResult copied =
            CopyFileDurably(source, destination, reportTo(m_host), false);
        if (!copied.ok()) {
            ShowMessage(copied.message(), MessageIcon::Error);
            return false;
        }
        refresh(++done, int(m_remembered.size()), kCopying, record);
        if (m_host.cancelRequested())
            return false;
        CopyFileTimes(source, destination);
        record.szFileName = QFileInfo(destination).fileName();
        record.szFilePath = destination;
        if (paste)
            listRecord(m_document.pCurrent(), record, true);
        else
            listRecord(m_document.FindList(targetListId), record, false);
    }
    return true;
}

bool CFileOperations::PasteMove(const QString& destinationFolder)
{
    const QString folder = WithTrailingBackslash(destinationFolder);
    if (!m_remembered.isEmpty()
        && WithTrailingBackslash(QDir::toNativeSeparators(QFileInfo(m_remembered.first().szFilePath).path())) == folder) {
        ShowMessage(QStringLiteral("移動元と移動先が同じフォルダです。"), MessageIcon::Error);
        return false;
    }
    m_host.statusText(QStringLiteral("ファイルを移動しています....."));
    m_bDeviceRemoved = false;
    int done = 0;
    for (tagFileList record : m_remembered) {
        QString destination = folder + record.szFileName;
        const QString source = record.szFilePath;
        const int check = prepareDestination(source, destination, QStringLiteral("ファイル移動を中断しました。"));
        if (check == CancelAll)
            return false;
        if (check == SkipFile)
            continue;
        if (m_bDeviceRemoved) {
            ShowMessage(QStringLiteral("デバイスが取り外されました。"), MessageIcon::Error);
            return false;
        }
        const FileResult moved = MoveFile(source, destination, reportTo(m_host));
        if (!moved.ok()) {
            ShowMessage(moved.message(), MessageIcon::Error);
            return false;
        }
        refresh(++done, int(m_remembered.size()), kMoving, record);
        if (m_host.cancelRequested())
            return false;
        const QString sourceFolder = WithTrailingBackslash(QDir::toNativeSeparators(QFileInfo(source).path()));
        std::optional<int> sourceList = m_document.FindSaveSubfolderId(sourceFolder);
        if (!sourceList)
            sourceList = m_document.FindOptionFolderId(sourceFolder);
        if (CFileList* list = sourceList ? m_document.FindList(*sourceList) : nullptr)
            list->RemoveRecord(record.szFileName);
        record.szFileName = QFileInfo(destination).fileName();
        record.szFilePath = destination;
        listRecord(m_document.pCurrent(), record, true);
    }
    return true;
}

QString CFileOperations::TransferDestinationFolder(const QString& savePath, const QString& driveRoot,
                                                  const QString& sourcePath)
{
    const QString folder = QDir::fromNativeSeparators(QFileInfo(sourcePath).path());
    const QString root = RemoveTrailingSeparator(QDir::fromNativeSeparators(driveRoot));
    if (root.isEmpty() || (folder != root && !folder.startsWith(root + u'/')))
        return {};
    QString relative = folder.mid(root.size());
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
    m_bDeviceRemoved = false;
    m_host.statusText(QStringLiteral("ファイルをバックアップしています....."));
    const QString kRemoved = QStringLiteral("デバイスが取り外されました。");
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
        const FileResult copied = CopyFileDurably(source, destination, reportTo(m_host), true,
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

void CFileOperations::listRecord(CFileList* list, const tagFileList& record, bool shown)
{
    if (!list)
        return;
    if (list->AddRecordUnique(record)) {
        if (shown)
            m_host.addRow(record);
        return;
    }
    // An overwritten file: its record and row show the file that is there now.
    list->RemoveRecord(record.szFileName);
    list->AddRecordUnique(record);
    if (shown)
        m_host.replaceRow(record);
}

CFileOperations::FolderCheck CFileOperations::CheckFolderForDeletion(const QString& folder)
{
    FolderCheck result = FolderCheck::Deletable;
    const std::function<void(const QByteArray&)> walk = [&](const QByteArray& native) {
        DIR* dir = opendir(native.constData());
        if (!dir) {
            result = FolderCheck::HoldsUnreadable;
            return;
        }
        while (const dirent* entry = readdir(dir)) {
            if (result != FolderCheck::Deletable)
                break;
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            const QByteArray path = native + '/' + entry->d_name;
            struct stat st {};
            if (lstat(path.constData(), &st) != 0)
                continue;
            if (S_ISDIR(st.st_mode)) {
                walk(path);
                continue;
            }
            const QString name = QFile::decodeName(entry->d_name);
            if (!S_ISREG(st.st_mode) || !name.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
                continue;
            const QString filePath = QFile::decodeName(path);
            tagVoiceHeader header{};
            VoiceHeaderLookup lookup = VoiceHeaderLookup::Found;
            ReadVoiceHeader(filePath, header, &lookup);
            if (lookup == VoiceHeaderLookup::OpenFailed || QFile::encodeName(filePath) != path)
                result = FolderCheck::HoldsUnreadable;
            else if (header.protectFlag != 0)
                result = FolderCheck::HoldsProtected;
        }
        closedir(dir);
    };
    walk(QFile::encodeName(RemoveTrailingSeparator(folder)));
    return result;
}

bool CFileOperations::DeleteRememberedFiles()
{
    m_host.statusText(QStringLiteral("ファイルを削除しています....."));
    m_host.showProgress(2, int(m_remembered.size()));
    int done = 0;
    int unread = 0;
    bool completed = true;
    for (const tagFileList& record : m_remembered) {
        tagVoiceHeader header{};
        VoiceHeaderLookup lookup = VoiceHeaderLookup::Found;
        ReadVoiceHeader(record.szFilePath, header, &lookup);
        // A file in use or unreadable might be protected: it stays.
        if (lookup == VoiceHeaderLookup::OpenFailed && QFileInfo::exists(record.szFilePath)) {
            ++unread;
            continue;
        }
        if (header.protectFlag != 0)
            continue;
        const FileResult removed = RemoveFile(record.szFilePath);
        if (!removed.ok()) {
            ShowMessage(removed.message(), MessageIcon::Error);
            completed = false;
            break;
        }
        if (CFileList* current = m_document.pCurrent())
            current->RemoveRecord(record.szFileName);
        refresh(++done, int(m_remembered.size()), kDeleting, record);
        if (m_host.cancelRequested()) {
            completed = false;
            break;
        }
    }
    m_host.refillList();
    if (unread > 0)
        ShowMessage(QStringLiteral("使用中か読み込めないため、%1 個のファイルを削除しませんでした。").arg(unread),
                    MessageIcon::Information);
    return completed;
}
