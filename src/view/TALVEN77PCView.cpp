#include "TALVEN77PCView.h"

#include "FindDlg.h"
#include "FolderTreeFill.h"
#include "RowSearch.h"
#include "MainList.h"
#include "RecordingListModel.h"
#include "RecordingPanel.h"
#include "recording/VoiceDuration.h"
#include "settings/Setting.h"
#include "device/Drives.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"

#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QDropEvent>
#include <QHeaderView>
#include <QSplitter>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kSplitKey = QStringLiteral("Window/Split");
// The control panel's size (559 × 138 dialog units of the original form).
constexpr int kPanelHeight = 224;

class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

CTALVEN77PCView::CTALVEN77PCView(CTALVEN77PCDoc& document, CSetting& setting, QWidget* parent)
    : QWidget(parent), m_document(document), m_setting(setting), m_panelArea(new QWidget(this)),
      m_splitter(new QSplitter(Qt::Horizontal, this)), m_tree(new QTreeWidget), m_model(new RecordingListModel(this)),
      m_list(new CMainList(m_model)), m_nullPanel(std::make_unique<NullRecordingPanel>()), m_panel(m_nullPanel.get()),
      m_nSplit(OpenProgramSettings()->value(kSplitKey, kSplitMargin).toInt())
{
    m_model->setMarkerIcon(QApplication::style()->standardIcon(QStyle::SP_MediaVolume));
    m_findDlg = std::make_unique<CFindDlg>(this);
    m_tree->setAcceptDrops(true);
    m_tree->viewport()->setAcceptDrops(true);
    m_tree->viewport()->installEventFilter(this);
    m_list->setDragEnabled(true);
    connect(m_list, &CMainList::dragStarting, this, [this](bool& allowed) {
        // A selection that failed (a vanished file, a failed load) spoils the drag that follows it.
        allowed = !m_bSkipDrag;
        m_bSkipDrag = false;
    });
    m_runFindDialog = [](CFindDlg& dialog) { return dialog.exec(); };
    m_panelArea->setFixedHeight(kPanelHeight);
    m_tree->setHeaderHidden(true);
    m_tree->setMinimumWidth(kSplitMargin);
    m_list->setMinimumWidth(kSplitMargin);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(m_panelArea);
    layout->addWidget(m_splitter, 1);
    m_chooseFolder = [this] {
        return QFileDialog::getExistingDirectory(this, QStringLiteral("保存用フォルダの指定"), QString(),
                                                 QFileDialog::ShowDirsOnly);
    };
    connect(m_splitter, &QSplitter::splitterMoved, this, [this](int position) { m_nSplit = position; });
    connect(m_tree, &QTreeWidget::currentItemChanged, this, &CTALVEN77PCView::onSelectionChanged);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* node = m_tree->itemAt(at);
        if (!node)
            return;
        m_tree->setCurrentItem(node); // selects it first, as a left click would
        if (const auto menu = treeMenuFor(node))
            menu->exec(m_tree->viewport()->mapToGlobal(at));
    });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { listMenu()->exec(m_list->viewport()->mapToGlobal(at)); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CTALVEN77PCView::onListSelectionChanged);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &CTALVEN77PCView::onListSelectionChanged);
}

void CTALVEN77PCView::setPanel(RecordingPanel* panel)
{
    m_panel = panel ? panel : m_nullPanel.get();
}

int CTALVEN77PCView::selectedListId() const
{
    const QTreeWidgetItem* node = m_tree->currentItem();
    return node ? node->data(0, kListIdRole).toInt() : 0;
}

void CTALVEN77PCView::BuildColumns()
{
    m_panel->UnloadRecording(0);
    m_list->showRowNumbers(m_setting.m_nNumber != 0);
    QList<int> keys;
    for (int key = 0; key < kColumnKeys; ++key) {
        if (m_setting.m_nDisplayItem[key])
            keys.append(key);
    }
    m_model->setShownKeys(keys);
    for (int column = 0; column < m_model->columnCount(); ++column) {
        const QString header = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
        m_list->setColumnWidth(column, m_list->horizontalHeader()->fontMetrics().horizontalAdvance(header) + 8 + 16);
    }
    if (m_model->columnOfKey(m_nSortKey) < 0)
        m_nSortKey = kKeyName;
    FillList();
}

void CTALVEN77PCView::FillList()
{
    const CFileList* list = m_document.pCurrent();
    m_model->setRecords(list ? list->records() : QList<tagFileList>());
    m_loadedRow = -1;
    m_nSelCount = 0;
    SortList();
    UpdateCounts();
}

void CTALVEN77PCView::SortList()
{
    WaitCursor wait;
    m_bSorting = true;
    m_model->sortByKey(m_nSortKey, m_bDescending);
    m_bSorting = false;
    const QList<int> rows = m_list->selectedRowNumbers();
    m_nSelCount = int(rows.size());
    if (rows.size() == 1)
        m_panel->setPosition(rows.first() + 1);
}

void CTALVEN77PCView::UpdateCounts()
{
    const CFileList* list = m_document.pCurrent();
    const int count = list ? list->GetRecordCount() : 0;
    m_panel->setControlsAllowed(count > 0 && m_nCurrentKind != kListRecorder);
    Q_EMIT recordingCount(count);
}

void CTALVEN77PCView::setSortKey(int key)
{
    m_nSortKey = key;
    SortList();
}

void CTALVEN77PCView::toggleDescending()
{
    m_bDescending = !m_bDescending;
    SortList();
}

void CTALVEN77PCView::SelectAll()
{
    m_list->selectAll();
    m_nSelCount = m_model->rowCount();
    m_panel->UnloadRecording(m_nSelCount);
}

void CTALVEN77PCView::InvertSelection()
{
    if (!m_list->hasFocus() || m_model->rowCount() == 0)
        return;
    QItemSelection all(m_model->index(0, 0), m_model->index(m_model->rowCount() - 1, m_model->columnCount() - 1));
    m_bSorting = true; // one notice for the whole change, below
    m_list->selectionModel()->select(all, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
    m_list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    m_bSorting = false;
    const QList<int> rows = m_list->selectedRowNumbers();
    m_nSelCount = int(rows.size());
    if (rows.size() != 1) {
        m_model->setMarkedRow(-1);
        m_loadedRow = -1;
        m_panel->UnloadRecording(m_nSelCount);
        return;
    }
    m_list->selectionModel()->setCurrentIndex(m_model->index(rows.first(), 0), QItemSelectionModel::NoUpdate);
    m_model->setMarkedRow(rows.first());
    m_loadedRow = rows.first();
    m_panel->LoadRecording(m_document.GetExistingRecordPath(m_model->recordAt(rows.first()).szFileName), rows.first() + 1);
}

void CTALVEN77PCView::AutoSizeColumns()
{
    if (m_model->rowCount() > 0) {
        m_list->resizeColumnsToContents();
        return;
    }
    for (int column = 0; column < m_model->columnCount(); ++column)
        m_list->setColumnWidth(column, m_list->horizontalHeader()->sectionSizeHint(column));
}

bool CTALVEN77PCView::SelectPrevRecording()
{
    const int row = m_list->currentIndex().row();
    if (row < 1)
        return false;
    m_list->setCurrentIndex(m_model->index(row - 1, 0)); // selects and loads it
    m_list->scrollTo(m_model->index(row - 1, 0));
    return !m_document.GetExistingRecordPath(m_model->recordAt(row - 1).szFileName).isEmpty();
}

bool CTALVEN77PCView::SelectNextRecording()
{
    const int row = m_list->currentIndex().row();
    if (row < 0 || row + 1 >= m_model->rowCount())
        return false;
    m_list->setCurrentIndex(m_model->index(row + 1, 0));
    m_list->scrollTo(m_model->index(row + 1, 0));
    return !m_document.GetExistingRecordPath(m_model->recordAt(row + 1).szFileName).isEmpty();
}

void CTALVEN77PCView::RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header)
{
    if (!m_model->RefreshRecordRow(path, row, header))
        return;
    if (CFileList* list = m_document.pCurrent()) {
        const QString name = m_model->recordAt(row).szFileName;
        for (int i = 0; i < list->GetRecordCount(); ++i) {
            if (list->RecordAt(i)->szFileName == name) {
                list->SetHeaderAt(i, header);
                break;
            }
        }
    }
}

int CTALVEN77PCView::dropTargetAt(const QPoint& viewportPosition) const
{
    const QTreeWidgetItem* node = m_tree->itemAt(viewportPosition);
    const int target = node ? node->data(0, kListIdRole).toInt() : 0;
    return node && m_document.CanDropOnFolder(target, selectedListId()) ? target : 0;
}

bool CTALVEN77PCView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_tree->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData()->hasFormat(CMainList::recordingsMimeType()))
            return false;
        const int target = dropTargetAt(drop->position().toPoint());
        if (event->type() == QEvent::DragEnter) {
            drop->acceptProposedAction(); // the answer comes with each move
        } else if (target == 0) {
            drop->ignore();
        } else {
            drop->setDropAction(Qt::CopyAction); // a drop always copies
            drop->accept();
            if (event->type() == QEvent::Drop)
                Q_EMIT dropOnFolder(target);
        }
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void CTALVEN77PCView::OnFind()
{
    m_findDlg->prepare(m_strFind, m_nFindTarget, m_bFindExact);
    const int result = m_runFindDialog(*m_findDlg);
    if (result == CFindDlg::Cancel)
        return;
    m_strFind = m_findDlg->text();
    m_nFindTarget = m_findDlg->target();
    m_bFindExact = m_findDlg->exact();
    search(result == CFindDlg::Next);
}

void CTALVEN77PCView::FindPrevious()
{
    if (m_strFind.isEmpty())
        OnFind();
    else
        search(false);
}

void CTALVEN77PCView::FindNext()
{
    if (m_strFind.isEmpty())
        OnFind();
    else
        search(true);
}

void CTALVEN77PCView::search(bool forward)
{
    QItemSelectionModel* selection = m_list->selectionModel();
    const int start = m_list->currentIndex().row();
    const int found = start < 0 ? -1 : FindMatchingRow(*m_model, start, forward, m_strFind, m_nFindTarget, m_bFindExact);
    // Rows passed over lose their selection; the search does not wrap around.
    const int passedEnd = found >= 0 ? found : (forward ? m_model->rowCount() - 1 : 0);
    if (start >= 0) {
        const int first = std::min(start, passedEnd), last = std::max(start, passedEnd);
        selection->select(QItemSelection(m_model->index(first, 0), m_model->index(last, m_model->columnCount() - 1)),
                          QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    }
    const int target = found >= 0 ? found : start;
    if (found < 0)
        ShowMessage(QStringLiteral("見つかりませんでした。"), MessageIcon::Information);
    if (target >= 0) {
        selection->setCurrentIndex(m_model->index(target, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        m_list->scrollTo(m_model->index(target, 0));
    }
}

void CTALVEN77PCView::onListSelectionChanged()
{
    if (m_bSorting)
        return;
    const QList<int> rows = m_list->selectedRowNumbers();
    m_nSelCount = int(rows.size());
    const int current = m_list->currentIndex().row();
    if (rows.size() != 1 || rows.first() != current) {
        m_model->setMarkedRow(-1);
        if (m_loadedRow >= 0 || rows.size() > 1) {
            m_loadedRow = -1;
            if (!m_panel->UnloadRecording(m_nSelCount))
                m_bSkipDrag = true;
        }
        return;
    }
    if (current == m_loadedRow)
        return;
    const QString name = m_model->recordAt(current).szFileName;
    const QString path = m_document.GetExistingRecordPath(name);
    if (path.isEmpty()) {
        m_bSkipDrag = true;
        ShowMessage(QStringLiteral("[%1]は存在しません。他のアプリケーションで削除された可能性があります。\nファイルリストから削除します。")
                        .arg(name),
                    MessageIcon::Error);
        if (CFileList* list = m_document.pCurrent())
            list->RemoveRecord(name);
        m_list->selectionModel()->clearSelection();
        m_model->removeRecordRow(current);
        m_loadedRow = -1;
        UpdateCounts();
        return;
    }
    m_model->setMarkedRow(current);
    m_loadedRow = current;
    m_panel->UnloadRecording(0);
    if (!m_panel->LoadRecording(path, current + 1))
        m_bSkipDrag = true;
    if (m_nCurrentKind != kListRecorder)
        m_panel->setControlsAllowed(true);
}

void CTALVEN77PCView::Rebuild()
{
    {
        WaitCursor wait;
        Q_EMIT statusText(QStringLiteral("ファイルリスト更新中"));
        m_panel->UnloadRecording(0);
        m_document.RescanList(selectedListId());
        FillList();
    }
    Q_EMIT statusText(QStringLiteral("レディ"));
    if (m_list->selectedRowNumbers().isEmpty() && m_model->rowCount() > 0)
        m_list->setCurrentIndex(m_model->index(0, 0));
}

void CTALVEN77PCView::RefreshAll()
{
    g_bNoAudioOutput = false;
    m_tree->setCurrentItem(topRoot());
    const auto step = [this](const QString& text, const std::function<void()>& work) {
        WaitCursor wait;
        Q_EMIT statusText(text);
        work();
    };
    step(QStringLiteral("装置およびSDカードフォルダ解析中....."), [this] { m_document.CheckDrives(); });
    step(QStringLiteral("保存用フォルダ解析中....."), [this] {
        m_document.RemoveListsOfKind(kListSaveFolder);
        m_document.ScanSaveFolder(m_setting.m_strSavePath);
    });
    step(QStringLiteral("任意フォルダ解析中....."), [this] { m_document.LoadOptionFolders(); });
    OnInitialUpdate();
    Q_EMIT statusText(QStringLiteral("レディ"));
}

std::unique_ptr<QMenu> CTALVEN77PCView::treeMenuFor(QTreeWidgetItem* node)
{
    if (!node)
        return nullptr;
    const int kind = m_document.GetListKind(node->data(0, kListIdRole).toInt());
    // Items whose commands are not built yet are shown disabled.
    const auto add = [](QMenu* menu, const QString& text, bool enabled = false) {
        QAction* action = menu->addAction(text);
        action->setEnabled(enabled);
        return action;
    };
    if (kind == kListSaveFolder || (kind == 0 && node->text(0) == kSaveRootLabel)) {
        auto menu = std::make_unique<QMenu>(kSaveRootLabel);
        connect(add(menu.get(), QStringLiteral("展開／折りたたみ"), node->childCount() > 0), &QAction::triggered, this,
                [node] { node->setExpanded(!node->isExpanded()); });
        add(menu.get(), QStringLiteral("貼り付け"));
        add(menu.get(), QStringLiteral("フォルダの作成"));
        add(menu.get(), QStringLiteral("削除"));
        add(menu.get(), QStringLiteral("名前の変更"));
        return menu;
    }
    if (kind == kListRegistered) {
        auto menu = std::make_unique<QMenu>(kOptionRootLabel);
        connect(add(menu.get(), QStringLiteral("フォルダの解放(&F)"), true), &QAction::triggered, this,
                &CTALVEN77PCView::OnReleaseFolder);
        add(menu.get(), QStringLiteral("貼り付け"));
        return menu;
    }
    if (kind == kListCard) {
        auto menu = std::make_unique<QMenu>(kCardRootLabel);
        add(menu.get(), QStringLiteral("保存用フォルダにバックアップ"));
        if (m_eject)
            menu->addAction(m_eject);
        else
            add(menu.get(), QStringLiteral("取り出し"));
        return menu;
    }
    return nullptr;
}

std::unique_ptr<QMenu> CTALVEN77PCView::listMenu()
{
    auto menu = std::make_unique<QMenu>(QStringLiteral("メインペイン"));
    for (const QString& text : {QStringLiteral("再生"), QStringLiteral("切り取り"), QStringLiteral("コピー"),
                                QStringLiteral("貼り付け"), QStringLiteral("削除"), QStringLiteral("名前の変更...")})
        menu->addAction(text)->setEnabled(false); // the recording list comes later
    return menu;
}

CTALVEN77PCView::~CTALVEN77PCView()
{
    OpenProgramSettings()->setValue(kSplitKey, m_nSplit);
}

int CTALVEN77PCView::splitPosition() const
{
    return m_nSplit;
}

void CTALVEN77PCView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A narrower view pulls the bar in so that the list keeps its 150 pixels.
    const int width = m_splitter->width();
    if (width > kSplitMargin && width - kSplitMargin < m_nSplit)
        m_nSplit = width - kSplitMargin;
    m_splitter->setSizes({m_nSplit, std::max(width - m_nSplit - m_splitter->handleWidth(), kSplitMargin)});
}

void CTALVEN77PCView::OnInitialUpdate()
{
    FillFolderTree(m_tree, BuildFolderTree(m_document));
    BuildColumns();
}

QTreeWidgetItem* CTALVEN77PCView::topRoot() const
{
    return m_tree->topLevelItem(0);
}

QTreeWidgetItem* CTALVEN77PCView::rootLabelled(const QString& label) const
{
    QTreeWidgetItem* top = topRoot();
    for (int i = 0; top && i < top->childCount(); ++i) {
        if (top->child(i)->text(0) == label)
            return top->child(i);
    }
    return nullptr;
}

void CTALVEN77PCView::selectQuietly(QTreeWidgetItem* item)
{
    m_reselecting = true;
    m_tree->setCurrentItem(item);
    m_reselecting = false;
}

void CTALVEN77PCView::onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (m_reselecting || !current)
        return;
    const QString label = current->text(0);
    const int id = current->data(0, kListIdRole).toInt();
    m_model->clear();
    m_loadedRow = -1;
    m_panel->UnloadRecording(0);
    m_nCurrentKind = 0;
    m_document.ClearCurrent();

    if (CFileList* list = id != 0 ? m_document.FindList(id) : nullptr) {
        m_document.SetCurrent(id);
        m_nCurrentKind = list->nKind();
        {
            WaitCursor wait;
            Q_EMIT statusText(QStringLiteral("ファイルリスト構築中...　[%1]").arg(label));
            if (list->nKind() == kListSaveFolder || list->nKind() == kListRegistered)
                list->EnsureScanned();
            FillList();
        }
        Q_EMIT statusText(QStringLiteral("レディ"));
        if (m_model->rowCount() > 0)
            m_list->setCurrentIndex(m_model->index(0, 0));
        if ((list->nKind() == kListRecorder || list->nKind() == kListCard) && !IsFolderWritable(list->strFolder())) {
            ShowMessage(list->nKind() == kListRecorder ? QStringLiteral("装置のSDカードが書込み禁止です。確認してください。")
                                                       : QStringLiteral("SDカードが書込み禁止です。確認してください。"),
                        MessageIcon::Warning);
        }
        return;
    }
    if (label == kOptionRootLabel)
        addOptionFolder(previous);
    else if (label == kRecorderRootLabel)
        m_nCurrentKind = kListRecorder;
    else if (label == kSaveRootLabel)
        m_nCurrentKind = kListSaveFolder;
    UpdateCounts();
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
        selectQuietly(previous);
        return;
    }
    WaitCursor wait;
    Q_EMIT statusText(QStringLiteral("追加した任意フォルダ解析中..."));
    if (m_document.RegisterOptionFolder(path)) {
        QTreeWidgetItem* root = rootLabelled(kOptionRootLabel);
        auto* node = new QTreeWidgetItem({path});
        node->setIcon(0, root->icon(0));
        node->setData(0, kListIdRole, m_document.FindOptionFolderId(path).value_or(0));
        root->addChild(node);
        root->setExpanded(true);
        m_tree->setCurrentItem(node); // selects, scans and lists it
    } else {
        selectQuietly(previous);
    }
    Q_EMIT statusText(QStringLiteral("レディ"));
}

void CTALVEN77PCView::OnReleaseFolder()
{
    QTreeWidgetItem* node = m_tree->currentItem();
    if (!node)
        return;
    const int id = node->data(0, kListIdRole).toInt();
    const QString label = node->text(0);
    m_tree->setCurrentItem(topRoot());
    if (m_document.ReleaseOptionFolder(label)) {
        m_document.RemoveList(id);
        delete node;
    }
}
