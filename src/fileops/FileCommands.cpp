#include "FileCommands.h"

#include "export/DesktopNotification.h"
#include "export/TransferRecord.h"
#include "export/UndoJournal.h"

#include "FileCopyDlg.h"
#include "OverWriteDlg.h"
#include "RenameDlg.h"
#include "device/Drives.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/DurableCopy.h"
#include "platform/FolderWalk.h"
#include "platform/NumberedNames.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "platform/WaitCursor.h"
#include "recording/FileList.h"
#include "settings/SaveFolderCheck.h"
#include "settings/Setting.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScopeGuard>

namespace {

// The child nodes the document's tree gives the node of this list.
std::vector<FolderTreeNode> builtChildrenOf(const FolderTreeNode& node, int listId, bool* found)
{
    if (node.id == listId && listId != 0) {
        *found = true;
        return node.children;
    }
    for (const FolderTreeNode& child : node.children) {
        std::vector<FolderTreeNode> children = builtChildrenOf(child, listId, found);
        if (*found)
            return children;
    }
    return {};
}

} // namespace

FileCommands::FileCommands(FileCommandsHost& host, CTALVEN77PCDoc& document, CSetting& setting, QObject* parent)
    : QObject(parent), m_host(host), m_document(document), m_setting(setting), m_engine(document, *this),
      m_runOverwrite([](COverWriteDlg& dialog) { return dialog.exec(); }),
      m_runRename([](CRenameDlg& dialog) { return dialog.exec(); })
{
    m_chooseSaveAs = [this](const QString& initialName) {
        QFileDialog dialog(m_host.dialogParent(), QString(), initialName, QStringLiteral("TALVEN-77 録音データ(*.mp3)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("mp3"));
        dialog.setFileMode(QFileDialog::AnyFile);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                        : QString();
    };
}

FileCommands::~FileCommands()
{
    delete m_progress;
}

// ---- The engine's window side ----------------------------------------------------

bool FileCommands::askOverwrite(const QString& source, const QString& destination, int& choice, bool& applyToAll)
{
    COverWriteDlg dialog(source, destination, choice, m_host.dialogParent());
    if (m_runOverwrite(dialog) != QDialog::Accepted)
        return false;
    choice = dialog.choice();
    applyToAll = dialog.applyToAll();
    return true;
}

void FileCommands::showProgress(int operation, int files)
{
    if (!m_progress) {
        m_progress = new CFileCopyDlg(operation);
        m_progress->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    m_progress->setRange(files);
    if (!m_bProgressHidden) {
        m_progress->show();
        m_progress->raise();
    }
    if (m_observeProgress)
        m_observeProgress(*m_progress);
}

void FileCommands::setProgress(int done, const QString& text, const QString& fileName)
{
    if (!m_progress)
        return;
    m_progress->setProgress(done, text, fileName);
    if (!m_bProgressHidden) {
        if (!m_progress->isVisible())
            m_progress->show();
        m_progress->raise();
    }
    if (m_observeProgress)
        m_observeProgress(*m_progress);
}

void FileCommands::setFileProgress(int64_t done, int64_t total)
{
    if (m_progress)
        m_progress->setFileProgress(done, total);
}

bool FileCommands::cancelRequested() const
{
    return m_progress && m_progress->cancelRequested();
}

void FileCommands::statusText(const QString& text)
{
    m_host.showStatusText(text);
}

void FileCommands::processEvents()
{
    // The window paints and the cancel button answers; the commands that would
    // change what the worker goes through are disabled meanwhile.
    QCoreApplication::processEvents();
}

void FileCommands::addRow(const tagFileList& record)
{
    m_host.appendRow(record);
}

void FileCommands::replaceRow(const tagFileList& record)
{
    for (int row = 0; row < m_host.rowCount(); ++row) {
        if (m_host.recordAt(row).szFileName == record.szFileName) {
            m_host.replaceRow(row, record);
            return;
        }
    }
    m_host.appendRow(record);
}

void FileCommands::refillList()
{
    m_host.refillList();
}

void FileCommands::markTransferred(const tagFileList& record)
{
    // The row of that very file (a recursive list may show one name twice).
    for (int row = 0; row < m_host.rowCount(); ++row) {
        const tagFileList shown = m_host.recordAt(row);
        if (shown.szFilePath == record.szFilePath) {
            tagVoiceHeader header = shown.header;
            header.transferredFlag = 1;
            m_host.RefreshRecordRow(record.szFilePath, row, header);
            return;
        }
    }
}

void FileCommands::closeProgress()
{
    delete m_progress;
}

void FileCommands::setRunning(bool running)
{
    m_bRunning = running;
    Q_EMIT busyChanged();
}

void FileCommands::finish()
{
    m_engine.Forget();
    closeProgress();
    m_host.showStatusText(kIdleStatusText);
    setRunning(false);
    // The recording let go of for the work: the highlighted row is loaded again.
    m_host.reloadSelection();
    // What the work did may now be taken back.
    m_host.UpdateCommandStates();
}

bool FileCommands::saveFolderUsable() const
{
    if (IsUsableSaveFolder(m_setting.m_strSavePath))
        return true;
    ShowMessage(UnusableSaveFolderMessage(), MessageIcon::Warning);
    return false;
}

// ---- Cut, copy, paste, delete, drop ---------------------------------------------

void FileCommands::rememberSelection(int mode)
{
    QList<tagFileList> records;
    for (const int row : m_host.selectedRows())
        records.append(m_document.FindCurrentRecord(m_host.recordAt(row)));
    m_engine.Remember(records, mode);
}

void FileCommands::OnEditCut()
{
    if (m_bRunning)
        return;
    rememberSelection(CFileOperations::ModeCut);
    m_host.UpdateCommandStates();
}

void FileCommands::OnEditCopy()
{
    if (m_bRunning)
        return;
    rememberSelection(CFileOperations::ModeCopy);
    m_host.UpdateCommandStates();
}

void FileCommands::OnEditPaste()
{
    const int mode = m_engine.clipboardMode();
    if (m_bRunning || (mode != CFileOperations::ModeCopy && mode != CFileOperations::ModeCut) || !saveFolderUsable())
        return;
    m_engine.m_bApplyToAll = false;
    setRunning(true);
    showProgress(mode == CFileOperations::ModeCut ? 1 : 0, int(m_engine.remembered().size()));
    {
        WaitCursor wait;
        m_host.unloadRecording();
        // Only into a folder of the save folder or a registered one, never the recorder or the card.
        const int target = m_host.selectedFolderId();
        const int kind = m_document.GetListKind(target);
        const QString folder = m_document.GetListFolder(target);
        if (!folder.isEmpty() && (kind == kListSaveFolder || kind == kListRegistered)) {
            if (mode == CFileOperations::ModeCopy)
                m_engine.PasteCopy(folder);
            else
                m_engine.PasteMove(folder);
        }
        m_engine.Forget();
        m_host.SortList();
        m_host.UpdateCounts();
    }
    finish();
}

void FileCommands::OnDeleteFiles()
{
    if (m_bRunning || !saveFolderUsable())
        return;
    if (!AskYesNo(QStringLiteral("選択中のファイルを削除してもよろしいですか？\n(保護マークが設定されているファイルは削除しません)")))
        return;
    rememberSelection(CFileOperations::ModeDelete);
    setRunning(true);
    {
        WaitCursor wait;
        m_host.unloadRecording();
        m_engine.DeleteRememberedFiles();
    }
    finish();
}

void FileCommands::OnDropOnFolder(int targetListId)
{
    if (m_bRunning || !m_document.CanDropOnFolder(targetListId, m_host.selectedFolderId()) || !saveFolderUsable())
        return;
    rememberSelection(CFileOperations::ModeNone);
    m_engine.m_bApplyToAll = false;
    setRunning(true);
    {
        WaitCursor wait;
        showProgress(0, int(m_engine.remembered().size()));
        m_host.unloadRecording();
        m_engine.CopyFilesToFolder(targetListId);
    }
    finish();
}

// ---- Transfer into the save folder ------------------------------------------------

int FileCommands::CollectUntransferred(int kind)
{
    m_nTransferKind = kind;
    m_strTransferRoot = transferRoot(kind);
    return m_document.CollectUntransferred(kind, m_transferList);
}

QString FileCommands::transferRoot(int kind) const
{
    return (kind == kListCard ? m_document.GetCardDrive() : m_document.GetRecorderDrive()).value_or(QString());
}

void FileCommands::TransferToSaveFolder(bool showProgress)
{
    if (m_bRunning || m_transferList.isEmpty() || !saveFolderUsable())
        return;
    // The drive went (or another took its place) since the records were collected,
    // while the question was up, say.
    const int kind = m_nTransferKind;
    if (m_strTransferRoot.isEmpty() || transferRoot(kind) != m_strTransferRoot) {
        ShowMessage(QStringLiteral("デバイスが取り外されました。"), MessageIcon::Error);
        return;
    }
    setRunning(true);
    WaitCursor wait;
    m_host.unloadRecording();
    // The records go back into the list they were collected from, whatever folder is selected.
    const QString savePath = m_setting.m_strSavePath;
    m_bProgressHidden = !showProgress;
    this->showProgress(0, int(m_transferList.size()));
    bool folderPrepared = false;
    m_engine.TransferFiles(m_transferList, kind, m_strTransferRoot, savePath, folderPrepared);
    if (folderPrepared)
        m_host.RebuildSaveFolder();
    closeProgress();
    m_bProgressHidden = false;
    const int transferred = m_engine.transferredCount();
    m_host.showStatusText(transferred > 0 ? TransferSummaryText(transferred) : kIdleStatusText);
    // Someone working in another window learns of it from the desktop.
    const QWidget* parent = m_host.dialogParent();
    if (transferred > 0 && !(parent && parent->window()->isActiveWindow()))
        ShowDesktopNotification(TransferSummaryText(transferred));
    setRunning(false);
    m_host.reloadSelection();
}

void FileCommands::OnTransfer(int kind)
{
    if (m_bRunning || !saveFolderUsable())
        return;
    int count = 0;
    {
        WaitCursor wait;
        count = CollectUntransferred(kind);
    }
    if (count == 0) {
        ShowMessage(QStringLiteral("バックアップするファイルはありません。"), MessageIcon::None);
        return;
    }
    if (!AskYesNo(QStringLiteral("%1件の未転送ファイルが存在します。\nバックアップを行いますか？").arg(count)))
        return;
    TransferToSaveFolder(true);
}

// ---- Rename and save under a new name ----------------------------------------------

int FileCommands::focusedSelectedRow() const
{
    const int row = m_host.focusedRow();
    return row >= 0 && m_host.selectedRows().contains(row) ? row : -1;
}

void FileCommands::OnRenameFile()
{
    const int row = focusedSelectedRow();
    if (row < 0 || m_bRunning || !saveFolderUsable())
        return;
    const QString oldName = m_host.recordAt(row).szFileName;
    const QString oldPath = m_document.GetExistingRecordPath(oldName);
    CRenameDlg dialog(oldName, m_host.dialogParent());
    if (m_runRename(dialog) != QDialog::Accepted)
        return;
    m_host.unloadRecording();
    m_host.clearSelection();
    QString newName = dialog.newName();
    if (!newName.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        newName += QStringLiteral(".mp3");
    const QString newPath = QDir::toNativeSeparators(QFileInfo(oldPath).path()) + QDir::separator() + newName;
    if (newPath != oldPath) {
        // Never onto another file of that name.
        const FileResult renamed = RenameNoReplace(oldPath, newPath);
        if (!renamed.ok()) {
            ShowMessage(renamed.message(), MessageIcon::Error);
            m_host.focusRow(row);
            return;
        }
        {
            UndoStepScope undoStep(UndoJournal::Kind::Rename);
            UndoJournal::instance().add(oldPath, newPath);
        }
        m_host.UpdateCommandStates();
        if (CFileList* current = m_document.pCurrent())
            current->RenameRecord(oldName, newName);
        m_host.replaceRow(row, m_document.FindCurrentRecord(newName));
    }
    m_host.focusRow(row);
}

void FileCommands::OnSaveAs()
{
    const int row = focusedSelectedRow();
    if (row < 0)
        return;
    const tagFileList shown = m_host.recordAt(row);
    const QString name = shown.szFileName;
    const QString source = m_document.GetExistingRecordPath(shown);
    const QString chosen = m_chooseSaveAs(name);
    if (chosen.isEmpty())
        return;
    // Saving onto the recording itself copies nothing and destroys nothing.
    const QFileInfo target(chosen);
    if (chosen == source || (target.exists() && target.canonicalFilePath() == QFileInfo(source).canonicalFilePath()))
        return;
    if (!HasEnoughFreeSpace(chosen)) {
        ShowMessage(NotEnoughFreeSpaceMessage(), MessageIcon::Information);
        return;
    }
    FileResult copied;
    {
        WaitCursor wait;
        copied = CopyFileDurably(source, chosen, {}, true);
    }
    if (!copied.ok())
        ShowMessage(copied.message(), MessageIcon::Error);
}

// ---- Folders of the save folder ----------------------------------------------------

void FileCommands::OnCreateFolder()
{
    if (!saveFolderUsable())
        return;
    QString parent = m_document.GetListFolder(m_host.selectedFolderId());
    if (parent.isEmpty())
        parent = m_setting.m_strSavePath;
    parent = CFileOperations::WithTrailingBackslash(parent);
    const QString name = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    QString text;
    QString path;
    for (int n = 1; n < 9999 && text.isEmpty(); ++n) {
        const QString candidate = n == 1 ? name : name + u'(' + QString::number(n) + u')';
        if (QFileInfo(parent + candidate).exists() || QFileInfo(parent + candidate).isSymLink())
            continue;
        if (CreateFolderDurably(parent + candidate, m_setting.m_strSavePath).ok()) {
            text = candidate;
            path = parent + candidate;
            UndoStepScope undoStep(UndoJournal::Kind::CreateFolder);
            UndoJournal::instance().add(path, {});
        } else if (n == 1) {
            break; // the date's own name failed where it was free: so will the others
        }
    }
    if (text.isEmpty()) {
        ShowMessage(QStringLiteral("フォルダが作成できませんでした"), MessageIcon::Error);
        return;
    }
    m_host.addFolderNodeBelowSelection(text, m_document.AddSaveSubfolderList(path));
    m_host.UpdateCommandStates();
}

void FileCommands::OnDeleteFolder()
{
    const int id = m_host.selectedFolderId();
    if (m_document.GetListKind(id) != kListSaveFolder || m_bRunning || !saveFolderUsable())
        return;
    if (!AskYesNo(QStringLiteral("選択したフォルダとフォルダ内の全てのファイルを削除してよろしいですか？\n（サブフォルダも削除します）"),
                  MessageIcon::None))
        return;
    // The tree may have changed while the question was up.
    if (!m_host.hasFolderNode(id))
        return;
    WaitCursor wait;
    m_host.showStatusText(QStringLiteral("削除フォルダ内のデータを解析しています..."));
    const QString path = m_document.GetListFolder(id);
    m_host.unloadRecording();
    // However it ends, a row still highlighted is loaded again.
    const auto reload = qScopeGuard([this] { m_host.reloadSelection(); });
    QString mountPoint;
    const CFileOperations::FolderCheck check = CFileOperations::CheckFolderForDeletion(path, &mountPoint);
    if (check != CFileOperations::FolderCheck::Deletable) {
        QString text = QStringLiteral("使用中か読み込めないファイルが存在するため削除できません。");
        if (check == CFileOperations::FolderCheck::HoldsProtected)
            text = QStringLiteral("保護されているファイルが存在するため削除できません。");
        else if (check == CFileOperations::FolderCheck::HoldsMountPoint)
            text = QStringLiteral("別のドライブがマウントされているフォルダを含むため削除できません。\n") + mountPoint;
        ShowMessage(text, MessageIcon::None);
        m_host.showStatusText(kIdleStatusText);
        return;
    }
    m_host.showStatusText(QStringLiteral("フォルダ内のデータを削除しています..."));
    const QString folder = RemoveTrailingSeparator(path);
    FileResult removed;
    bool forGood = !MoveToTrashEnabled();
    if (!forGood) {
        UndoStepScope undoStep(UndoJournal::Kind::Trash);
        QString inTrash;
        removed = MoveToTrash(folder, &inTrash);
        if (removed.ok())
            UndoJournal::instance().add(folder, inTrash);
        if (removed.error == kNoTrash) {
            if (!CFileOperations::AskDeleteForGood(folder)) {
                m_host.showStatusText(kIdleStatusText);
                return;
            }
            forGood = true;
        }
    }
    if (forGood)
        removed = RemoveFolderTree(folder);
    if (!removed.ok() || QFileInfo(folder).exists()) {
        ShowMessage(QStringLiteral("フォルダの削除に失敗しました"), MessageIcon::None);
    } else {
        m_host.removeFolderNode(id);
    }
    m_host.showStatusText(kIdleStatusText);
    m_host.UpdateCommandStates();
}

void FileCommands::OnRenameFolder()
{
    const int id = m_host.selectedFolderId();
    // The roots are not folders of their own.
    if (m_document.GetListKind(id) != kListSaveFolder || m_bRunning || !saveFolderUsable())
        return;
    const QString oldPath = CFileOperations::WithTrailingBackslash(m_document.GetListFolder(id));
    CRenameDlg dialog(m_document.GetListLabel(id), m_host.dialogParent());
    if (m_runRename(dialog) != QDialog::Accepted)
        return;
    // The tree may have changed while the dialog was up.
    if (!m_host.hasFolderNode(id))
        return;
    m_host.unloadRecording();
    const auto reload = qScopeGuard([this] { m_host.reloadSelection(); });
    const QString oldFolder = RemoveTrailingSeparator(oldPath);
    const QString newFolder = oldFolder.left(oldFolder.lastIndexOf(QDir::separator()) + 1) + dialog.newName();
    if (newFolder == oldFolder)
        return;
    const FileResult renamed = RenameNoReplace(oldFolder, newFolder);
    if (!renamed.ok()) {
        ShowMessage(renamed.message(), MessageIcon::Error);
        return;
    }
    {
        UndoStepScope undoStep(UndoJournal::Kind::Rename);
        UndoJournal::instance().add(oldFolder, newFolder);
    }
    const QString label = m_document.ChangeListFolder(id, newFolder + QDir::separator());
    // The old subfolders' nodes and lists go; the new ones are scanned from the disk.
    m_host.clearFolderNode(id);
    m_document.AddSaveSubfolderLists(newFolder);
    bool found = false;
    m_host.setFolderNode(id, label, builtChildrenOf(BuildFolderTree(m_document), id, &found));
    // The shown list, if it is this folder's, now names its files in the new place.
    if (m_document.pCurrent() && m_document.pCurrent()->nId() == id)
        m_host.refillList();
    m_host.UpdateCommandStates();
}

void FileCommands::OnUndo()
{
    if (m_bRunning || !UndoJournal::instance().canUndo())
        return;
    m_host.unloadRecording();
    QString refused;
    {
        WaitCursor wait;
        refused = UndoJournal::instance().undo();
    }
    if (!refused.isEmpty())
        ShowMessage(refused, MessageIcon::Warning);
    m_host.UpdateCommandStates();
}
