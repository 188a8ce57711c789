#include "FileOperations.h"

#include "export/UndoJournal.h"

#include "device/Drives.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/DurableCopy.h"
#include "platform/FolderWalk.h"
#include "platform/MessageBoxes.h"
#include "platform/NumberedNames.h"
#include "platform/Paths.h"
#include "platform/TemporaryNames.h"
#include "recording/FileList.h"
#include "recording/VoiceHeader.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <sys/stat.h>

namespace {

const QString kCopying = QStringLiteral("ファイルをコピーしています... ( %1 / %2 )");
const QString kMoving = QStringLiteral("ファイルを移動しています... ( %1 / %2 )");
const QString kDeleting = QStringLiteral("ファイルを削除しています... ( %1 / %2 )");

} // namespace

CFileOperations::CFileOperations(CTALVEN77PCDoc& document, FileOperationsHost& host)
    : m_document(document), m_host(host)
{
}

CopyProgress CFileOperations::copyProgress() const
{
    FileOperationsHost& host = m_host;
    return [&host](int64_t written, int64_t total) {
        host.setFileProgress(written, total);
        host.processEvents();
    };
}

bool CFileOperations::NameTaken(const QString& path)
{
    // A dangling link is a name that is taken too.
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
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
    return folder + QFile::decodeName(NumberedFileName(QFile::encodeName(info.fileName()), number));
}

bool CFileOperations::MakeNumberedName(QString& destination)
{
    for (int n = 2; n <= kLastNumber; ++n) {
        const QString candidate = NumberedName(destination, n);
        if (!NameTaken(candidate)) {
            destination = candidate;
            return true;
        }
    }
    return false;
}

int CFileOperations::CheckOverwrite(const QString& source, QString& destination)
{
    if (!NameTaken(destination))
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
    const TidyEachFolderOnce operation;
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
            CopyFileDurably(source, destination, copyProgress(), false);
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
    const TidyEachFolderOnce operation;
    UndoStepScope undoStep(UndoJournal::Kind::Move);
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
        const FileResult moved = MoveFile(source, destination, copyProgress());
        if (!moved.ok()) {
            ShowMessage(moved.message(), MessageIcon::Error);
            return false;
        }
        UndoJournal::instance().add(source, destination);
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

CFileOperations::FolderCheck CFileOperations::CheckFolderForDeletion(const QString& folder, QString* mountPoint)
{
    // The walk below never leaves the folder's own file system.
    const QString mounted = FindMountPoint(folder);
    if (!mounted.isEmpty()) {
        if (mountPoint)
            *mountPoint = QDir::toNativeSeparators(mounted);
        return FolderCheck::HoldsMountPoint;
    }
    const QByteArray top = QFile::encodeName(RemoveTrailingSeparator(folder));
    struct stat topStat {};
    if (lstat(top.constData(), &topStat) != 0)
        return FolderCheck::HoldsUnreadable;
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
                // Mounted or nested since the look above: never entered.
                if (IsFileSystemBoundary(path, topStat.st_dev)) {
                    if (mountPoint)
                        *mountPoint = QDir::toNativeSeparators(QFile::decodeName(path));
                    result = FolderCheck::HoldsMountPoint;
                    break;
                }
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
    walk(top);
    return result;
}

bool CFileOperations::AskDeleteForGood(const QString& path)
{
    return AskYesNo(QStringLiteral("ごみ箱に移動できません。\n%1\n\nごみ箱を使わずに完全に削除しますか？（元に戻せません）").arg(path),
                    MessageIcon::Warning);
}

bool CFileOperations::DeleteRememberedFiles()
{
    m_host.statusText(QStringLiteral("ファイルを削除しています....."));
    m_host.showProgress(2, int(m_remembered.size()));
    int done = 0;
    int unread = 0;
    bool completed = true;
    // The recorder and its card must not find foreign folders: their files always go for good.
    const CFileList* shown = m_document.pCurrent();
    const bool toTrash = shown && (shown->nKind() == kListSaveFolder || shown->nKind() == kListRegistered)
                         && MoveToTrashEnabled();
    UndoStepScope undoStep(UndoJournal::Kind::Trash);
    bool forGood = !toTrash; // once the user said so, the rest goes for good too
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
        QString inTrash;
        FileResult removed = forGood ? RemoveFile(record.szFilePath) : MoveToTrash(record.szFilePath, &inTrash);
        if (!forGood && removed.ok())
            UndoJournal::instance().add(record.szFilePath, inTrash);
        if (!forGood && removed.error == kNoTrash) {
            if (!AskDeleteForGood(record.szFilePath)) {
                completed = false;
                break;
            }
            forGood = true;
            removed = RemoveFile(record.szFilePath);
        }
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
