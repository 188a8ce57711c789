#include "ArchiveLink.h"

#include "FolderTreePane.h"
#include "MainList.h"
#include "RecordingListModel.h"
#include "RecordingListPane.h"
#include "TALVEN77PCView.h"
#include "document/TALVEN77PCDoc.h"
#include "library/ArchivePlaces.h"
#include "library/FolderWatcher.h"
#include "library/SearchAllDlg.h"
#include "platform/MessageBoxes.h"
#include "platform/Paths.h"
#include "settings/Setting.h"

#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QSet>
#include <QTimer>
#include <QTreeWidgetItem>
#include <utility>

ArchiveLink::ArchiveLink(CTALVEN77PCView& view)
    : QObject(&view), m_view(view), m_watcher(new FolderWatcher(this)), m_deferTimer(new QTimer(this))
{
    connect(m_watcher, &FolderWatcher::foldersChanged, this, &ArchiveLink::onFoldersChanged);
    m_deferTimer->setSingleShot(true);
    m_deferTimer->setInterval(1000);
    connect(m_deferTimer, &QTimer::timeout, this, [this] { onFoldersChanged(std::exchange(m_deferredFolders, {})); });
    // Nodes come and go with drives, folder commands and F5: the watched set follows.
    const auto treeChanged = [this] {
        if (m_watchPending)
            return;
        m_watchPending = true;
        QTimer::singleShot(0, this, [this] { watchShownFolders(); });
    };
    QAbstractItemModel* tree = m_view.folderTree()->model();
    connect(tree, &QAbstractItemModel::rowsInserted, this, treeChanged);
    connect(tree, &QAbstractItemModel::rowsRemoved, this, treeChanged);
    connect(tree, &QAbstractItemModel::modelReset, this, treeChanged);
}

ArchiveLink::~ArchiveLink()
{
    delete m_dialog;
}

void ArchiveLink::OnSearchAll()
{
    if (!m_dialog) {
        m_dialog = new SearchAllDlg(
            [this] {
                return ArchivePlaces(m_view.document().fileLists(),
                                     [this](const CFileList& list) { return treeNameOf(list.nId()); });
            },
            m_view.window());
        connect(m_dialog, &SearchAllDlg::recordingChosen, this,
                [this](const QString& folder, const QString& path) { ShowRecording(folder, path); });
    }
    if (m_dialog->isVisible())
        m_dialog->refresh();
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

QString ArchiveLink::treeNameOf(int listId) const
{
    // The names from the root below "Voice Data" down to the list's node.
    QStringList names;
    for (const QTreeWidgetItem* node = m_view.folderTree()->findNode(listId); node && node->parent();
         node = node->parent())
        names.prepend(node->text(0));
    return names.join(kPlaceNameSeparator);
}

bool ArchiveLink::ShowRecording(const QString& folder, const QString& path)
{
    CTALVEN77PCDoc& document = m_view.document();
    int id = 0;
    for (const auto& list : document.fileLists()) {
        const bool recursive = isDeviceList(*list);
        if (list->nKind() == kListTemporaryTree || list->strFolder().isEmpty())
            continue;
        if (list->strFolder() == folder || (recursive && folder.startsWith(list->strFolder()))) {
            id = list->nId();
            break;
        }
    }
    QTreeWidgetItem* node = id ? m_view.folderTree()->findNode(id) : nullptr;
    if (!node)
        return false;
    if (m_view.folderTree()->currentItem() != node)
        m_view.folderTree()->setCurrentItem(node);
    const auto rowOf = [this, &path] {
        const RecordingListModel* model = m_view.recordings();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->recordAt(row).szFilePath == path)
                return row;
        }
        return -1;
    };
    int row = rowOf();
    if (row < 0) {
        // A list scanned before the recording came: scanned again, from the index.
        m_view.Rebuild();
        row = rowOf();
    }
    if (row < 0)
        return false;
    CMainList* list = m_view.recordingList();
    const QModelIndex index = m_view.recordings()->index(row, 0);
    list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    list->scrollTo(index);
    return true;
}

bool ArchiveLink::OpenRecordingFile(const QString& path)
{
    const QFileInfo file(path);
    QTreeWidgetItem* before = m_view.folderTree()->currentItem();
    if (file.isFile()) {
        // As named, and else through its links, as the tree may list it either way.
        for (const QString& name : {QDir::cleanPath(file.absoluteFilePath()), file.canonicalFilePath()}) {
            if (ShowRecording(AddTrailingSeparator(QFileInfo(name).absolutePath()), name))
                return true;
        }
    }
    // A file in a shown folder that is no recording there leaves the window on the folder it showed.
    if (before && m_view.folderTree()->currentItem() != before)
        m_view.folderTree()->setCurrentItem(before);
    ShowMessage(QStringLiteral("[%1]は表示中のフォルダにある録音ではありません。").arg(QDir::toNativeSeparators(path)),
                MessageIcon::Warning);
    return false;
}

bool ArchiveLink::isDeviceList(const CFileList& list)
{
    return list.nKind() == kListRecorder || list.nKind() == kListCard;
}

void ArchiveLink::watchShownFolders()
{
    m_watchPending = false;
    QStringList folders, withSubfolders;
    for (const auto& list : m_view.document().fileLists()) {
        if (list->nKind() == kListTemporaryTree || list->strFolder().isEmpty())
            continue;
        // The recorder's and the card's lists take in their dated folders too.
        (isDeviceList(*list) ? withSubfolders : folders).append(list->strFolder());
    }
    const QString savePath = m_view.setting().m_strSavePath;
    if (!savePath.isEmpty())
        folders.append(savePath);
    m_watcher->setFolders(folders, withSubfolders);
}

void ArchiveLink::onFoldersChanged(const QStringList& folders)
{
    // Filling a list again unloads the recording in the panel: a change another program
    // made waits while the user is listening (checked again each second).
    if (m_view.panel().isListening()) {
        for (const QString& folder : folders) {
            if (!m_deferredFolders.contains(folder))
                m_deferredFolders.append(folder);
        }
        m_deferTimer->start();
        return;
    }
    CTALVEN77PCDoc& document = m_view.document();
    const QString saveFolder = AddTrailingSeparator(m_view.setting().m_strSavePath);
    for (const QString& folder : folders) {
        if (folder.startsWith(saveFolder) && subfoldersChanged(folder)) {
            m_view.RebuildSaveFolder();
            return;
        }
    }
    const int selected = m_view.folderTree()->selectedListId();
    bool shownChanged = false;
    bool deviceChanged = false;
    for (const auto& list : document.fileLists()) {
        const bool recursive = isDeviceList(*list);
        const bool affected = std::any_of(folders.cbegin(), folders.cend(), [&](const QString& folder) {
            return folder == list->strFolder() || (recursive && folder.startsWith(list->strFolder()));
        });
        if (!affected || list->nKind() == kListTemporaryTree)
            continue;
        deviceChanged = deviceChanged || recursive;
        if (list->nId() == selected)
            shownChanged = true;
        else if (list->bInitialized() || recursive)
            list->Rescan(); // through the index: only what changed is read
    }
    if (shownChanged)
        rescanShownList();
    // A dated folder may have come or gone.
    if (deviceChanged)
        watchShownFolders();
}

// The list shown is scanned again and filled; the rows selected before stay
// selected where their recordings are still there.
void ArchiveLink::rescanShownList()
{
    QSet<QString> selectedPaths;
    const RecordingListModel* model = m_view.recordings();
    for (const QModelIndex& index : m_view.recordingList()->selectionModel()->selectedRows())
        selectedPaths.insert(model->recordAt(index.row()).szFilePath);
    m_view.Rebuild();
    if (selectedPaths.isEmpty())
        return;
    QItemSelectionModel* selection = m_view.recordingList()->selectionModel();
    selection->clearSelection();
    bool first = true;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (!selectedPaths.contains(model->recordAt(row).szFilePath))
            continue;
        const QModelIndex index = model->index(row, 0);
        selection->setCurrentIndex(index, (first ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Select)
                                              | QItemSelectionModel::Rows);
        first = false;
    }
}

// Whether a folder of the save folder's tree gained or lost a subfolder.
bool ArchiveLink::subfoldersChanged(const QString& folder) const
{
    const QDir dir(folder);
    QSet<QString> onDisk;
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks))
        onDisk.insert(AddTrailingSeparator(dir.filePath(name)));
    QSet<QString> listed;
    for (const auto& list : m_view.document().fileLists()) {
        const QString& path = list->strFolder();
        if (list->nKind() == kListSaveFolder && path.size() > folder.size() && path.startsWith(folder)
            && path.indexOf(QDir::separator(), folder.size()) == path.size() - 1)
            listed.insert(path);
    }
    return onDisk != listed;
}

SearchAllDlg* ArchiveLink::searchDialog() const
{
    return m_dialog.data();
}
