// The folders and drives of the view kept up to date: the tree read again, drives
// arriving and leaving, the card's removal, the automatic transfer from the recorder,
// and the settings and device names that change what the tree shows.
#include "TALVEN77PCView.h"

#include "FolderTreePane.h"
#include "RecordingListPane.h"
#include "device/CardRemoval.h"
#include "device/DriveWatcher.h"
#include "device/Drives.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "fileops/FileCommands.h"
#include "info/SplashWnd.h"
#include "platform/MessageBoxes.h"
#include "platform/WaitCursor.h"
#include "player/RecordingPanel.h"
#include "recording/VoiceDuration.h"
#include "settings/DeviceNameDlg.h"
#include "settings/Setting.h"
#include "settings/SettingDlg.h"

#include <QApplication>
#include <QTimer>

namespace {

// How often a transfer waiting for another operation, a question or a menu looks again.
constexpr int kAutoTransferRetryMs = 300;

// The child nodes the document's tree gives one root.
const std::vector<FolderTreeNode>& builtChildren(const FolderTreeNode& top, const QString& rootLabel)
{
    static const std::vector<FolderTreeNode> none;
    for (const FolderTreeNode& root : top.children) {
        if (root.label == rootLabel)
            return root.children;
    }
    return none;
}

} // namespace

void CTALVEN77PCView::autoTransferAtStartup()
{
    window()->hide();
    SetSplashStatus(QStringLiteral("USB自動転送実行中... "));
    // A message about the transfer is not to be hidden behind the topmost splash.
    const SplashClosingMessages closeSplashFirst;
    if (m_fileCommands->CollectUntransferred(kListRecorder) != 0)
        m_fileCommands->TransferToSaveFolder(false);
}

void CTALVEN77PCView::scheduleAutoTransfer(int delayMs)
{
    // One timer: arrivals in quick succession make one transfer.
    m_autoTransferTimer->start(delayMs);
}

void CTALVEN77PCView::autoTransferOnArrival()
{
    // The recorder may have gone again by now. While another copy, move or
    // transfer runs, or a question or menu is up (whose answer may act on the
    // lists), the transfer waits for its end.
    if (!m_setting.m_nAutoUsb || !m_document.GetRecorderDrive())
        return;
    if (m_fileCommands->isRunning() || QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        scheduleAutoTransfer(kAutoTransferRetryMs);
        return;
    }
    if (m_fileCommands->CollectUntransferred(kListRecorder) != 0)
        m_fileCommands->TransferToSaveFolder(true);
}

void CTALVEN77PCView::Rebuild()
{
    runStep(QStringLiteral("ファイルリスト更新中"), [this] {
        m_panel->UnloadRecording(0);
        m_document.RescanList(m_tree->selectedListId());
        m_listPane->Clear();
        m_listPane->FillList();
    });
    Q_EMIT statusText(kIdleStatusText);
    if (m_listPane->selectedCount() == 0)
        m_listPane->SelectFirstRow();
}

void CTALVEN77PCView::showDeviceNodes()
{
    const FolderTreeNode built = BuildFolderTree(m_document);
    for (const QString& label : {kCardRootLabel, kRecorderRootLabel}) {
        QTreeWidgetItem* root = rootLabelled(label);
        m_tree->replaceChildren(root, builtChildren(built, label));
        root->setExpanded(root->childCount() > 0);
    }
    m_panel->setUsbConnected(m_document.GetRecorderDrive().has_value());
}

void CTALVEN77PCView::RefreshAll()
{
    g_bNoAudioOutput = false;
    m_tree->setCurrentItem(topRoot());
    runStep(QStringLiteral("装置およびSDカードフォルダ解析中....."), [this] {
        m_tree->removeChildren(rootLabelled(kCardRootLabel));
        m_tree->removeChildren(rootLabelled(kRecorderRootLabel));
        m_document.CheckDrives();
        showDeviceNodes();
    });
    scanSaveFolderIntoTree();
    runStep(QStringLiteral("任意フォルダ解析中....."), [this] {
        QTreeWidgetItem* root = rootLabelled(kOptionRootLabel);
        m_tree->removeChildren(root);
        m_document.LoadOptionFolders();
        m_tree->replaceChildren(root, builtChildren(BuildFolderTree(m_document), kOptionRootLabel));
        root->setExpanded(root->childCount() > 0);
    });
    Q_EMIT statusText(kIdleStatusText);
    UpdateCommandStates();
}

void CTALVEN77PCView::selectFolder(int kind, const QString& folder)
{
    for (const auto& list : m_document.fileLists()) {
        if (list->nKind() != kind || list->strFolder() != folder)
            continue;
        if (QTreeWidgetItem* node = m_tree->findNode(list->nId()))
            m_tree->setCurrentItem(node);
        return;
    }
}

void CTALVEN77PCView::scanSaveFolderIntoTree()
{
    runStep(QStringLiteral("保存用フォルダ解析中....."), [this] {
        QTreeWidgetItem* root = rootLabelled(kSaveRootLabel);
        m_tree->removeChildren(root);
        m_document.RemoveListsOfKind(kListSaveFolder);
        m_document.ScanSaveFolder(m_setting.m_strSavePath);
        m_tree->replaceChildren(root, builtChildren(BuildFolderTree(m_document), kSaveRootLabel));
        root->setExpanded(root->childCount() > 0);
    });
}

void CTALVEN77PCView::RebuildSaveFolder()
{
    const int selected = m_tree->selectedListId();
    const QString selectedFolder =
        m_document.GetListKind(selected) == kListSaveFolder ? m_document.GetListFolder(selected) : QString();
    // The selected folder's list goes with the old tree.
    if (!selectedFolder.isEmpty())
        m_tree->setCurrentItem(rootLabelled(kSaveRootLabel));
    scanSaveFolderIntoTree();
    Q_EMIT statusText(kIdleStatusText);
    if (selectedFolder.isEmpty())
        return;
    if (const std::optional<int> id = m_document.FindSaveSubfolderId(selectedFolder)) {
        if (QTreeWidgetItem* node = m_tree->findNode(*id))
            m_tree->setCurrentItem(node);
    }
}

void CTALVEN77PCView::OnSettings()
{
    const QString oldSavePath = m_setting.m_strSavePath;
    bool saved = true;
    const int result = m_setting.RunSettingsDialog(
        [this](CSetting& edited) {
            CSettingDlg dialog(edited, window());
            const int answer = m_runSettingsDialog(dialog);
            if (answer == QDialog::Accepted)
                dialog.takeValues(edited);
            return answer;
        },
        &saved);
    if (result != QDialog::Accepted)
        return;
    if (!saved)
        ShowMessage(QStringLiteral("設定を保存できませんでした。設定ファイルに書き込めません。"), MessageIcon::Error);
    applySettings(oldSavePath);
}

void CTALVEN77PCView::applySettings(const QString& oldSavePath)
{
    // Folder names differ by letter case alone only where the file system ignores it.
#ifdef Q_OS_WIN
    constexpr Qt::CaseSensitivity pathCase = Qt::CaseInsensitive;
#else
    constexpr Qt::CaseSensitivity pathCase = Qt::CaseSensitive;
#endif
    if (oldSavePath.compare(m_setting.m_strSavePath, pathCase) != 0)
        RebuildSaveFolder();
    // The columns, with the sort key back on the name when its column went.
    m_listPane->BuildColumns();
    m_listPane->SortList();
    if (m_listPane->selectedCount() == 0)
        m_listPane->SelectFirstRow();
    UpdateCommandStates();
}

void CTALVEN77PCView::OnDeviceNames()
{
    CDeviceNameDlg dialog(window());
    if (m_runDeviceNameDialog(dialog) != QDialog::Accepted)
        return;
    for (const QString& label : {kCardRootLabel, kRecorderRootLabel}) {
        QTreeWidgetItem* root = rootLabelled(label);
        QTreeWidgetItem* node = root ? root->child(0) : nullptr;
        if (!node)
            continue;
        const QString text = m_document.RefreshList(FolderTreePane::listId(node));
        if (!text.isEmpty())
            node->setText(0, text);
    }
}

void CTALVEN77PCView::OnDriveArrived(const QString& drive)
{
    WaitCursor wait;
    const bool recorder = IsRecorderDrive(drive);
    const int kind = recorder ? kListRecorder : kListCard;
    Q_EMIT statusText(recorder ? QStringLiteral("装置フォルダ解析中...") : QStringLiteral("SDカードフォルダ解析中..."));
    if (m_document.AddDriveRoot(kind, drive)) {
        for (const auto& list : m_document.fileLists()) {
            if (list->nKind() != kind || list->strRoot() != drive)
                continue;
            QTreeWidgetItem* root = rootLabelled(recorder ? kRecorderRootLabel : kCardRootLabel);
            m_tree->addFolderNode(root, list->strLabel(), list->nId());
            root->setExpanded(true);
            break;
        }
        if (recorder) {
            m_panel->setUsbConnected(true);
            // After the watcher has told all it has: the transfer lets the window
            // work meanwhile, and the watcher reports a removal during it.
            if (m_setting.m_nAutoUsb)
                scheduleAutoTransfer(0);
        }
    }
    Q_EMIT statusText(kIdleStatusText);
    m_listPane->UpdateCounts();
    UpdateCommandStates();
}

void CTALVEN77PCView::OnDriveRemoved(const QString& drive)
{
    WaitCursor wait;
    for (const int kind : {int(kListRecorder), int(kListCard)}) {
        const auto root = kind == kListRecorder ? m_document.GetRecorderDrive() : m_document.GetCardDrive();
        if (!root || *root != drive)
            continue;
        m_fileCommands->engine().setDeviceRemoved();
        QTreeWidgetItem* parent = rootLabelled(kind == kListRecorder ? kRecorderRootLabel : kCardRootLabel);
        // The node takes its list with it; when it was selected, the top root is
        // selected and the list emptied. Another folder that is selected keeps its list.
        if (QTreeWidgetItem* node = parent ? parent->child(0) : nullptr)
            m_tree->removeNode(node);
        m_document.RemoveListsOfKind(kind);
        if (kind == kListRecorder)
            m_panel->setUsbConnected(false);
    }
    m_listPane->UpdateCounts();
    UpdateCommandStates();
}

void CTALVEN77PCView::OnEject()
{
    const auto drive = m_document.GetCardDrive();
    bool ejected = false;
    {
        WaitCursor wait;
        // Pending header changes reach the card first, and no file on it stays open.
        m_panel->UnloadRecording(0);
        ejected = drive && EjectRemovableDrive(*drive);
    }
    if (ejected) {
        // The card's node goes at once, not when the drive list next says so.
        m_driveWatcher->update();
        ShowMessage(QStringLiteral("SDカードは安全に取り外せます。"), MessageIcon::Information);
    } else {
        // The card stays, and so does its list: the highlighted row is loaded again.
        m_listPane->reloadSelection();
        ShowMessage(QStringLiteral("SDカードの取り外しに失敗しました。他のアプリケーションで使用している可能性があります。"),
                    MessageIcon::Error);
    }
}
