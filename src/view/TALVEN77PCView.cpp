#include "TALVEN77PCView.h"

#include "analysis/SilenceSettingsDlg.h"

#include "ArchiveLink.h"
#include "CommandSet.h"
#include "FolderTreePane.h"
#include "MainList.h"
#include "RecordingListModel.h"
#include "RecordingListPane.h"
#include "player/RecordingPanel.h"
#include "TransportCommands.h"
#include "device/DriveWatcher.h"
#include "device/Drives.h"
#include "platform/DriveSource.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "export/ExportCommands.h"
#include "export/UndoJournal.h"
#include "fileops/FileCommands.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"
#include "platform/WaitCursor.h"
#include "player/PanelDlg.h"
#include "settings/DeviceNameDlg.h"
#include "settings/Setting.h"
#include "settings/SettingDlg.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString kSplitKey = QStringLiteral("Window/Split");
// A stored splitter place beyond any screen's width (a damaged file) is not used.
constexpr int kWidestScreen = 32767;
// The control panel's height (138 dialog units of the original form).
constexpr int kPanelHeight = 224;
// The most a first start gives the tree for its labels; a longer one is cut.
constexpr int kMostFittedTree = 360;

} // namespace

CTALVEN77PCView::CTALVEN77PCView(CTALVEN77PCDoc& document, CSetting& setting, QWidget* parent)
    : QWidget(parent), m_document(document), m_setting(setting), m_commands(new CommandSet(this)),
      m_panelArea(new QWidget(this)), m_splitter(new QSplitter(Qt::Horizontal, this)),
      m_tree(new FolderTreePane(document)), m_listPane(new RecordingListPane(document, setting)),
      m_nullPanel(std::make_unique<NullRecordingPanel>()), m_panel(m_nullPanel.get()),
      m_nSplit(SettingsInt(*OpenProgramSettings(), kSplitKey, kSplitMargin, 0, kWidestScreen)),
      m_bFitTree(!OpenProgramSettings()->contains(kSplitKey))
{
    m_listPane->setPanel(m_panel);
    // The panel keeps its size and its place at the left; a narrower window cuts it off on the right.
    m_panelArea->setFixedHeight(kPanelHeight);
    m_tree->setMinimumWidth(kSplitMargin);
    m_listPane->setMinimumWidth(kSplitMargin);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_listPane);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(m_panelArea);
    layout->addWidget(m_splitter, 1);
    m_runSettingsDialog = [](CSettingDlg& dialog) { return dialog.exec(); };
    m_runDeviceNameDialog = [](CDeviceNameDlg& dialog) { return dialog.exec(); };
    m_runSilenceDialog = [](SilenceSettingsDlg& dialog) { return dialog.exec(); };
    m_chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("保存用フォルダの指定"), QString(),
                                                 QFileDialog::ShowDirsOnly);
    };

    connect(m_splitter, &QSplitter::splitterMoved, this, [this](int position) { m_nSplit = position; });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CTALVEN77PCView::onSelectionChanged);
    connect(m_tree, &FolderTreePane::dropOnFolder, this, &CTALVEN77PCView::dropOnFolder);
    // After the drag has ended: the copy pumps events of its own.
    connect(m_tree, &FolderTreePane::dropOnFolder, this,
            [this](int folderId) { m_fileCommands->OnDropOnFolder(folderId); }, Qt::QueuedConnection);
    connect(m_tree, &FolderTreePane::nodeMenuRequested, this, [this](QTreeWidgetItem* node, const QPoint& at) {
        if (const auto menu = treeMenuFor(node))
            menu->exec(at);
    });
    CMainList* list = m_listPane->list();
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& at) { listMenu()->exec(list->viewport()->mapToGlobal(at)); });
    connect(m_listPane, &RecordingListPane::recordingCount, this, &CTALVEN77PCView::recordingCount);
    connect(m_listPane, &RecordingListPane::stateChanged, this, &CTALVEN77PCView::UpdateCommandStates);
    connect(qApp, &QApplication::focusChanged, this, &CTALVEN77PCView::UpdateCommandStates);
    m_fileCommands = new FileCommands(*this, document, setting, this);
    m_driveWatcher = new DriveWatcher(CurrentDriveSource(), this);
    m_autoTransferTimer = new QTimer(this);
    m_archive = new ArchiveLink(*this);
    connect(m_driveWatcher, &DriveWatcher::arrived, this, &CTALVEN77PCView::OnDriveArrived);
    connect(m_driveWatcher, &DriveWatcher::removed, this, &CTALVEN77PCView::OnDriveRemoved);
    connect(m_fileCommands, &FileCommands::busyChanged, this, &CTALVEN77PCView::UpdateCommandStates);
    m_autoTransferTimer->setSingleShot(true);
    connect(m_autoTransferTimer, &QTimer::timeout, this, &CTALVEN77PCView::autoTransferOnArrival);
    connectCommands();
    m_transportCommands = new TransportCommands(*m_commands, this);
    connect(m_transportCommands, &TransportCommands::stateChanged, this, &CTALVEN77PCView::UpdateCommandStates);
    // Enter or a double-click on a row plays the recording its selection loaded.
    connect(list, &QAbstractItemView::activated, m_transportCommands, &TransportCommands::playRow);
    m_ownPanel = new CPanelDlg({}, m_panelArea);
    setPanel(m_ownPanel);
}

CTALVEN77PCView::~CTALVEN77PCView()
{
    // The panes and the focus go while the window is taken down; nothing of that is news any more.
    for (const QObject* sender : {static_cast<const QObject*>(qApp), static_cast<const QObject*>(m_tree),
                                  static_cast<const QObject*>(m_listPane),
                                  static_cast<const QObject*>(m_transportCommands)})
        disconnect(sender, nullptr, this, nullptr);
    // The own panel writes what it holds while the document is still there; the list has
    // gone by then. Another panel is its owner's, who may have let it go already.
    if (m_panel == m_ownPanel.data())
        m_panel->setHost(nullptr);
    m_listPane->setPanel(nullptr);
    delete m_ownPanel;
    OpenProgramSettings()->setValue(kSplitKey, m_nSplit);
}

void CTALVEN77PCView::connectCommands()
{
    CommandSet& c = *m_commands;
    RecordingListPane* pane = m_listPane;
    c.setHandler(Command::SelectAll, [pane] { pane->SelectAll(); });
    c.setHandler(Command::InvertSelection, [pane] { pane->InvertSelection(); });
    for (int key = 0; key < kColumnKeys; ++key)
        c.setHandler(SortCommand(key), [pane, key] { pane->setSortKey(key); });
    c.setHandler(Command::SortDescending, [pane] { pane->toggleDescending(); });
    c.setHandler(Command::AutoWidth, [pane] { pane->AutoSizeColumns(); });
    c.setHandler(Command::Find, [pane] { pane->OnFind(); });
    c.setHandler(Command::FindPrevious, [pane] { pane->FindPrevious(); });
    c.setHandler(Command::FindNext, [pane] { pane->FindNext(); });
    c.setHandler(Command::Rebuild, [this] { Rebuild(); });
    c.setHandler(Command::Refresh, [this] { RefreshAll(); });
    c.setHandler(Command::SearchAll, [this] { m_archive->OnSearchAll(); });
    c.setHandler(Command::Eject, [this] { OnEject(); });
    c.setHandler(Command::ReleaseFolder, [this] { OnReleaseFolder(); });
    c.setHandler(Command::Play, [this] { m_panel->OnPlay(); });
    c.setHandler(Command::SkipSilence, [this] { m_panel->setSkipSilence(m_commands->action(Command::SkipSilence)->isChecked()); });
    c.setHandler(Command::NextSilenceBoundary, [this] { m_panel->GoToSilenceBoundary(true); });
    c.setHandler(Command::PreviousSilenceBoundary, [this] { m_panel->GoToSilenceBoundary(false); });
    c.setHandler(Command::SilenceSettings, [this] {
        SilenceSettingsDlg dialog(m_panel->silenceOptions(), this);
        if (m_runSilenceDialog(dialog) == QDialog::Accepted)
            m_panel->setSilenceOptions(dialog.options());
    });
    c.setHandler(Command::ShowOverview, [this] { m_panel->setOverviewShown(m_commands->action(Command::ShowOverview)->isChecked()); });
    c.setHandler(Command::Settings, [this] { OnSettings(); });
    FileCommands* files = m_fileCommands;
    c.setHandler(Command::Cut, [files] { files->OnEditCut(); });
    c.setHandler(Command::Copy, [files] { files->OnEditCopy(); });
    c.setHandler(Command::Paste, [files] { files->OnEditPaste(); });
    c.setHandler(Command::DeleteFiles, [files] { files->OnDeleteFiles(); });
    c.setHandler(Command::RenameFile, [files] { files->OnRenameFile(); });
    c.setHandler(Command::SaveAs, [files] { files->OnSaveAs(); });
    c.setHandler(Command::CreateFolder, [files] { files->OnCreateFolder(); });
    c.setHandler(Command::DeleteFolder, [files] { files->OnDeleteFolder(); });
    c.setHandler(Command::RenameFolder, [files] { files->OnRenameFolder(); });
    c.setHandler(Command::DeviceNames, [this] { OnDeviceNames(); });
    c.setHandler(Command::Transfer, [files] { files->OnTransfer(kListRecorder); });
    c.setHandler(Command::Backup, [files] { files->OnTransfer(kListCard); });
    c.setHandler(Command::Export, [this] { ExportCommands::ExportRecordings(window(), selectedRecords(), panelSection()); });
    c.setHandler(Command::ExportList, [this] {
        QList<tagFileList> shown;
        for (int row = 0; row < rowCount(); ++row)
            shown.append(recordAt(row));
        ExportCommands::ExportList(window(), shown);
    });
    c.setHandler(Command::TransferHistory, [this] { ExportCommands::ShowTransferRecord(window()); });
    c.setHandler(Command::Undo, [this, files] {
        // What was taken back may lie anywhere: everything is read again, and the
        // folder shown before is shown again when it is still there.
        const int selected = m_tree->selectedListId();
        const int kind = selected ? m_document.GetListKind(selected) : -1;
        const QString folder = selected ? m_document.GetListFolder(selected) : QString();
        files->OnUndo();
        RefreshAll();
        if (!folder.isEmpty())
            selectFolder(kind, folder);
    });
    c.action(Command::MoveToTrash)->setChecked(MoveToTrashEnabled());
    c.setHandler(Command::MoveToTrash, [this] { SetMoveToTrashEnabled(m_commands->action(Command::MoveToTrash)->isChecked()); });
    c.setHandler(Command::ExpandFolder, [this] {
        if (QTreeWidgetItem* node = m_tree->currentItem())
            node->setExpanded(!node->isExpanded());
    });
}

void CTALVEN77PCView::UpdateCommandStates()
{
    const QTreeWidgetItem* node = m_tree->currentItem();
    CommandContext context;
    context.selectedKind = m_document.GetListKind(m_tree->selectedListId());
    context.currentKind = m_nCurrentKind;
    context.nodeHasChildren = node && node->childCount() > 0;
    context.treeHasFocus = m_tree->hasFocus();
    context.listHasFocus = recordingList()->hasFocus();
    context.rowCount = recordings()->rowCount();
    context.selectedRows = m_listPane->selectedCount();
    context.canUndo = UndoJournal::instance().canUndo();
    context.shownKeys = 0;
    for (const int key : recordings()->shownKeys())
        context.shownKeys |= 1u << key;
    context.clipboardMode = m_fileCommands->engine().clipboardMode();
    context.busy = m_fileCommands->isRunning();
    context.panelCanPlay = m_panel->canPlay();
    context.transportAllowed = m_transportCommands ? m_transportCommands->allowedActions() : 0;
    // The window paints on while a worker goes through the files, but takes no input
    // that would change them (the progress window's cancel button stays usable).
    m_splitter->setEnabled(!context.busy);
    m_panelArea->setEnabled(!context.busy);
    m_commands->Update(context, m_listPane->sortKey(), m_listPane->descending());
}

CMainList* CTALVEN77PCView::recordingList() const
{
    return m_listPane->list();
}

RecordingListModel* CTALVEN77PCView::recordings() const
{
    return m_listPane->model();
}

CPanelDlg* CTALVEN77PCView::controlPanel() const
{
    return m_ownPanel;
}

void CTALVEN77PCView::setPanel(RecordingPanel* panel)
{
    m_panel->setHost(nullptr);
    m_panel->setSkipSilenceListener({});
    if (QWidget* widget = m_panel->panelWidget()) {
        widget->removeEventFilter(this);
        widget->hide();
        // A panel that is not the view's own goes back to its owner.
        if (widget != m_ownPanel)
            widget->setParent(nullptr);
    }
    m_panel = panel ? panel : m_nullPanel.get();
    m_listPane->setPanel(m_panel);
    m_panel->setHost(m_listPane);
    if (m_transportCommands)
        m_transportCommands->follow(panel ? m_panel : nullptr);
    if (QWidget* widget = m_panel->panelWidget()) {
        widget->setParent(m_panelArea);
        widget->move(0, 0);
        widget->show();
        // The panel's height can change (its overview strip shown or hidden): the area follows it.
        widget->installEventFilter(this);
        m_panelArea->setFixedHeight(widget->height());
    }
    m_commands->action(Command::SkipSilence)->setChecked(m_panel->skipsSilence());
    m_commands->action(Command::ShowOverview)->setChecked(m_panel->overviewShown());
    m_panel->setSkipSilenceListener([action = m_commands->action(Command::SkipSilence)](bool skip) { action->setChecked(skip); });
    UpdateCommandStates();
}

bool CTALVEN77PCView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Resize && watched == m_panel->panelWidget())
        m_panelArea->setFixedHeight(m_panel->panelWidget()->height());
    return QWidget::eventFilter(watched, event);
}

void CTALVEN77PCView::BuildColumns()
{
    m_listPane->BuildColumns();
}

void CTALVEN77PCView::FillList()
{
    m_listPane->FillList();
}

void CTALVEN77PCView::SortList()
{
    m_listPane->SortList();
}

void CTALVEN77PCView::UpdateCounts()
{
    m_listPane->UpdateCounts();
}

bool CTALVEN77PCView::SelectPrevRecording()
{
    return m_listPane->SelectPrevRecording();
}

bool CTALVEN77PCView::SelectNextRecording()
{
    return m_listPane->SelectNextRecording();
}

void CTALVEN77PCView::RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header)
{
    m_listPane->RefreshRecordRow(path, row, header);
}

void CTALVEN77PCView::OnFind()
{
    m_listPane->OnFind();
}

void CTALVEN77PCView::FindPrevious()
{
    m_listPane->FindPrevious();
}

void CTALVEN77PCView::FindNext()
{
    m_listPane->FindNext();
}

CFindDlg& CTALVEN77PCView::findDialog()
{
    return m_listPane->findDialog();
}

void CTALVEN77PCView::setFindDialogRunner(std::function<int(CFindDlg&)> runner)
{
    m_listPane->setFindDialogRunner(std::move(runner));
}

void CTALVEN77PCView::OnInitialUpdate()
{
    m_tree->Fill(BuildFolderTree(m_document));
    if (m_bFitTree) {
        m_nSplit = std::clamp(m_tree->labelsWidth(), int(kSplitMargin), kMostFittedTree);
        applySplit();
    }
    m_panel->setUsbConnected(m_document.GetRecorderDrive().has_value());
    BuildColumns();
    UpdateCommandStates();
    if (m_document.GetRecorderDrive() && m_setting.m_nAutoUsb)
        autoTransferAtStartup();
}

QTreeWidgetItem* CTALVEN77PCView::topRoot() const
{
    return m_tree->topRoot();
}

QTreeWidgetItem* CTALVEN77PCView::rootLabelled(const QString& label) const
{
    return m_tree->rootLabelled(label);
}

void CTALVEN77PCView::runStep(const QString& text, const std::function<void()>& work)
{
    WaitCursor wait;
    Q_EMIT statusText(text);
    work();
}

std::unique_ptr<QMenu> CTALVEN77PCView::treeMenuFor(QTreeWidgetItem* node)
{
    if (!node)
        return nullptr;
    UpdateCommandStates();
    CommandSet& c = *m_commands;
    const int kind = m_document.GetListKind(FolderTreePane::listId(node));
    std::unique_ptr<QMenu> menu;
    if (kind == kListSaveFolder || (kind == 0 && node->text(0) == kSaveRootLabel)) {
        menu = std::make_unique<QMenu>(kSaveRootLabel);
        menu->addActions({c.action(Command::ExpandFolder), c.menuEntry(Command::Paste, QStringLiteral("貼り付け")),
                          c.menuEntry(Command::CreateFolder, QStringLiteral("フォルダの作成")),
                          c.action(Command::DeleteFolder), c.action(Command::RenameFolder)});
    } else if (kind == kListRegistered) {
        menu = std::make_unique<QMenu>(kOptionRootLabel);
        menu->addActions({c.action(Command::ReleaseFolder), c.menuEntry(Command::Paste, QStringLiteral("貼り付け"))});
    } else if (kind == kListCard) {
        menu = std::make_unique<QMenu>(kCardRootLabel);
        menu->addActions({c.menuEntry(Command::Backup, QStringLiteral("保存用フォルダにバックアップ")),
                          c.menuEntry(Command::Eject, QStringLiteral("取り出し"))});
    }
    return menu;
}

std::unique_ptr<QMenu> CTALVEN77PCView::listMenu()
{
    UpdateCommandStates();
    CommandSet& c = *m_commands;
    auto menu = std::make_unique<QMenu>(QStringLiteral("メインペイン"));
    menu->addActions({c.action(Command::Play), c.menuEntry(Command::Cut, QStringLiteral("切り取り")),
                      c.menuEntry(Command::Copy, QStringLiteral("コピー")),
                      c.menuEntry(Command::Paste, QStringLiteral("貼り付け")),
                      c.menuEntry(Command::DeleteFiles, QStringLiteral("削除")),
                      c.menuEntry(Command::RenameFile, QStringLiteral("名前の変更...")),
                      c.menuEntry(Command::Export, QStringLiteral("書き出し..."))});
    return menu;
}

void CTALVEN77PCView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    applySplit();
}

void CTALVEN77PCView::applySplit()
{
    // A narrower view pulls the bar in so that the list keeps its 150 pixels.
    const int width = m_splitter->width();
    if (width > kSplitMargin && width - kSplitMargin < m_nSplit)
        m_nSplit = width - kSplitMargin;
    m_splitter->setSizes({m_nSplit, std::max(width - m_nSplit - m_splitter->handleWidth(), kSplitMargin)});
}

void CTALVEN77PCView::onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (!current)
        return;
    const QString label = current->text(0);
    const int id = FolderTreePane::listId(current);
    m_listPane->Clear();
    m_panel->UnloadRecording(0);
    m_nCurrentKind = 0;
    m_document.ClearCurrent();

    // Held, not borrowed: selecting the first row may show a message (a recording that is
    // gone), and while it is up the folder watcher may read the save folder again and
    // replace the document's lists.
    if (const std::shared_ptr<CFileList> list = id != 0 ? m_document.ShareList(id) : nullptr) {
        m_document.SetCurrent(id);
        m_nCurrentKind = list->nKind();
        m_listPane->setCurrentKind(m_nCurrentKind);
        runStep(QStringLiteral("ファイルリスト構築中...　[%1]").arg(label), [this, &list] {
            if (list->nKind() == kListSaveFolder || list->nKind() == kListRegistered)
                list->EnsureScanned();
            m_listPane->FillList();
        });
        Q_EMIT statusText(kIdleStatusText);
        m_listPane->SelectFirstRow();
        // The list was replaced meanwhile: the selection that replaced it has done the rest.
        if (m_document.FindList(id) != list.get())
            return;
        if ((list->nKind() == kListRecorder || list->nKind() == kListCard) && !IsFolderWritable(list->strFolder())) {
            ShowMessage(list->nKind() == kListRecorder ? QStringLiteral("装置のSDカードが書込み禁止です。確認してください。")
                                                       : QStringLiteral("SDカードが書込み禁止です。確認してください。"),
                        MessageIcon::Warning);
        }
        UpdateCommandStates();
        return;
    }
    if (label == kOptionRootLabel)
        addOptionFolder(previous);
    else if (label == kRecorderRootLabel)
        m_nCurrentKind = kListRecorder;
    else if (label == kSaveRootLabel)
        m_nCurrentKind = kListSaveFolder;
    m_listPane->setCurrentKind(m_nCurrentKind);
    m_listPane->UpdateCounts();
    UpdateCommandStates();
}

void CTALVEN77PCView::reselect(QTreeWidgetItem* node)
{
    // Once the click or key that led here is done with the tree, so that it
    // does not highlight the option-folder root again; the selection of the
    // node runs as any other (its list is shown). The node is found again by
    // its list's id (a root by its label): it may have gone meanwhile.
    if (!node)
        return;
    const int id = FolderTreePane::listId(node);
    const QString label = node->text(0);
    QMetaObject::invokeMethod(
        this,
        [this, id, label] {
            QTreeWidgetItem* again = id != 0 ? m_tree->findNode(id)
                                   : label == kTopRootLabel ? topRoot()
                                                            : rootLabelled(label);
            if (again)
                m_tree->setCurrentItem(again);
        },
        Qt::QueuedConnection);
}

void CTALVEN77PCView::addOptionFolder(QTreeWidgetItem* previous)
{
    if (m_document.CountOptionFolders() >= CTALVEN77PCDoc::kMaxOptionFolders) {
        ShowMessage(QStringLiteral("登録できるフォルダ数は%1個までです。これ以上追加できません")
                        .arg(CTALVEN77PCDoc::kMaxOptionFolders),
                    MessageIcon::Error);
        return;
    }
    const QString path = m_chooseFolder();
    if (path.isEmpty()) {
        reselect(previous);
        return;
    }
    runStep(QStringLiteral("追加した任意フォルダ解析中..."), [this, path, previous] {
        if (!m_document.RegisterOptionFolder(path)) {
            reselect(previous);
            return;
        }
        QTreeWidgetItem* root = rootLabelled(kOptionRootLabel);
        QTreeWidgetItem* node = m_tree->addFolderNode(root, path, m_document.FindOptionFolderId(path).value_or(0));
        root->setExpanded(true);
        m_nCurrentKind = kListRegistered;
        reselect(node);
    });
    Q_EMIT statusText(kIdleStatusText);
}

void CTALVEN77PCView::OnReleaseFolder()
{
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node)
        return;
    const QString label = node->text(0);
    m_tree->setCurrentItem(topRoot());
    if (m_document.ReleaseOptionFolder(label))
        m_tree->removeNode(node);
    UpdateCommandStates();
}

QList<tagFileList> CTALVEN77PCView::selectedRecords() const
{
    QList<tagFileList> records;
    for (const int row : selectedRows())
        records.append(recordAt(row));
    return records;
}

std::optional<ExportSpan> CTALVEN77PCView::panelSection() const
{
    const auto section = m_panel->section();
    if (!section)
        return std::nullopt;
    return ExportSpan{int64_t(section->first) * 1000, int64_t(section->second) * 1000};
}
