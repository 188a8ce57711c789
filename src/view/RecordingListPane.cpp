#include "RecordingListPane.h"

#include "widgets/ElidedToolTips.h"
#include "FindDlg.h"
#include "MainList.h"
#include "RecordingListModel.h"
#include "player/RecordingPanel.h"
#include "RowSearch.h"
#include "TreeImages.h"
#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/MessageBoxes.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"
#include "platform/WaitCursor.h"
#include "settings/Setting.h"

#include <QHeaderView>
#include <QSettings>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The widths the user gave the columns: "Width%d" with n = key + 1, as the display settings count.
const QString kColumnWidthGroup = QStringLiteral("ListColumns");
// A stored width beyond this (a damaged file) is no width the user gave.
constexpr int kLongestColumn = 32767;

QString columnWidthName(int key)
{
    return QStringLiteral("Width%1").arg(key + 1);
}

RecordingPanel* noPanel()
{
    static NullRecordingPanel none;
    return &none;
}

} // namespace

RecordingListPane::RecordingListPane(CTALVEN77PCDoc& document, CSetting& setting, QWidget* parent)
    : QWidget(parent), m_document(document), m_setting(setting), m_model(new RecordingListModel(this)),
      m_list(new CMainList(m_model, this)), m_panel(noPanel()), m_findDlg(std::make_unique<CFindDlg>(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    setFocusProxy(m_list);
    m_model->setMarkerIcon(TreeImage(kImageTop));
    new ElidedToolTips(m_list);
    m_list->setDragEnabled(true);
    m_runFindDialog = [](CFindDlg& dialog) { return dialog.exec(); };

    connect(m_list, &CMainList::dragStarting, this, [this](bool& allowed) {
        // A selection that failed (a vanished file, a failed load) spoils the drag that follows it.
        allowed = !m_bSkipDrag;
        m_bSkipDrag = false;
    });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &RecordingListPane::onSelectionChanged);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &RecordingListPane::onSelectionChanged);
    QHeaderView* header = m_list->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    connect(header, &QHeaderView::sectionClicked, this, &RecordingListPane::sortByColumn);
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { onColumnResized(column, width); });
    loadColumnWidths();
    connect(m_model, &QAbstractItemModel::modelReset, this, &RecordingListPane::stateChanged);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &RecordingListPane::stateChanged);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &RecordingListPane::stateChanged);
}

RecordingListPane::~RecordingListPane()
{
    saveColumnWidths();
}

void RecordingListPane::loadColumnWidths()
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kColumnWidthGroup);
    for (int key = 0; key < kColumnKeys; ++key) {
        const int width = SettingsInt(*settings, columnWidthName(key), 0, 1, kLongestColumn);
        if (width > 0)
            m_columnWidths.insert(key, width);
    }
}

void RecordingListPane::saveColumnWidths() const
{
    if (m_columnWidths.isEmpty())
        return;
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kColumnWidthGroup);
    for (auto width = m_columnWidths.cbegin(); width != m_columnWidths.cend(); ++width)
        settings->setValue(columnWidthName(width.key()), width.value());
}

void RecordingListPane::onColumnResized(int column, int width)
{
    // Widths the columns are given as they are built are not the user's.
    if (m_bBuildingColumns || column < 0 || column >= m_model->shownKeys().size() || width <= 0)
        return;
    m_columnWidths.insert(m_model->shownKeys()[column], width);
}

void RecordingListPane::setPanel(RecordingPanel* panel)
{
    m_panel = panel ? panel : noPanel();
}

int RecordingListPane::loadedRow() const
{
    return m_model->markedRow();
}

void RecordingListPane::BuildColumns()
{
    m_panel->UnloadRecording(0);
    m_list->showRowNumbers(m_setting.m_nNumber != 0);
    QList<int> keys;
    for (int key = 0; key < kColumnKeys; ++key) {
        if (m_setting.m_nDisplayItem[key])
            keys.append(key);
    }
    m_bBuildingColumns = true;
    m_model->setShownKeys(keys);
    // As the user left it, else as wide as the header text; the rows widen it when filled.
    for (int column = 0; column < m_model->columnCount(); ++column)
        m_list->setColumnWidth(column, m_columnWidths.value(m_model->shownKeys()[column], headerWidth(column)));
    m_bBuildingColumns = false;
    if (m_model->columnOfKey(m_nSortKey) < 0)
        m_nSortKey = kKeyName;
    FillList();
}

void RecordingListPane::FillList()
{
    const CFileList* current = m_document.pCurrent();
    m_model->setRecords(current ? current->records() : QList<tagFileList>());
    m_nSelCount = 0;
    SortList();
    fitUnsizedColumns();
    UpdateCounts();
}

int RecordingListPane::headerWidth(int column) const
{
    // The header text with room for the sort indicator.
    const QString header = m_model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    return m_list->horizontalHeader()->fontMetrics().horizontalAdvance(header) + 8 + 16;
}

void RecordingListPane::fitUnsizedColumns()
{
    // Columns the user never sized are as wide as their texts, the name with room
    // for the marker of the loaded row; never narrower than their header. The
    // rows on screen are measured before they are painted; the others that
    // sizeHintForColumn would measure follow a batch at a time once the window
    // is free, widening the columns where they need more.
    ++m_fitRound;
    if (m_model->rowCount() == 0)
        return;
    const int onScreen = m_list->rowsOnScreen();
    widenUnsizedColumns(0, onScreen, true);
    if (onScreen < m_list->measuredRows())
        QTimer::singleShot(0, this, [this, round = m_fitRound, onScreen] { fitMoreRows(round, onScreen); });
}

void RecordingListPane::fitMoreRows(int round, int first)
{
    // Rows filled again meanwhile: that fill measures its own rows.
    constexpr int kRowsAtATime = 100;
    if (round != m_fitRound)
        return;
    const int last = std::min(first + kRowsAtATime, m_list->measuredRows());
    widenUnsizedColumns(first, last, false);
    if (last < m_list->measuredRows())
        QTimer::singleShot(0, this, [this, round, last] { fitMoreRows(round, last); });
}

void RecordingListPane::widenUnsizedColumns(int first, int last, bool fromHeader)
{
    const QStyle* style = m_list->style();
    const int markerRoom = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, m_list)
                           + 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1);
    m_bBuildingColumns = true;
    for (int column = 0; column < m_model->columnCount(); ++column) {
        if (m_columnWidths.contains(m_model->shownKeys()[column]))
            continue;
        const int texts = m_list->textsWidth(column, first, last) + (column == 0 ? markerRoom : 0);
        const int width = std::max(texts, fromHeader ? headerWidth(column) : m_list->columnWidth(column));
        if (width != m_list->columnWidth(column))
            m_list->setColumnWidth(column, width);
    }
    m_bBuildingColumns = false;
}

void RecordingListPane::Clear()
{
    ++m_fitRound;
    m_model->clear();
    m_nSelCount = 0;
}

void RecordingListPane::SelectFirstRow()
{
    if (m_model->rowCount() > 0)
        m_list->setCurrentIndex(m_model->index(0, 0));
}

void RecordingListPane::reloadSelection()
{
    m_model->setMarkedRow(-1);
    onSelectionChanged();
}

void RecordingListPane::SortList()
{
    {
        WaitCursor wait;
        m_bSorting = true;
        m_model->sortByKey(m_nSortKey, m_bDescending);
        m_bSorting = false;
    }
    showSortIndicator();
    const QList<int> rows = m_list->selectedRowNumbers();
    m_nSelCount = int(rows.size());
    if (rows.size() == 1)
        m_panel->setPosition(rows.first() + 1);
    Q_EMIT stateChanged();
}

void RecordingListPane::showSortIndicator()
{
    const int column = m_model->columnOfKey(m_nSortKey);
    m_list->horizontalHeader()->setSortIndicator(column < 0 ? 0 : column,
                                                 m_bDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void RecordingListPane::UpdateCounts()
{
    const CFileList* current = m_document.pCurrent();
    const int count = current ? current->GetRecordCount() : 0;
    m_panel->setControlsAllowed(count > 0 && m_nCurrentKind != kListRecorder);
    Q_EMIT recordingCount(count);
}

void RecordingListPane::setSortKey(int key)
{
    m_nSortKey = key;
    SortList();
}

void RecordingListPane::toggleDescending()
{
    m_bDescending = !m_bDescending;
    SortList();
}

void RecordingListPane::sortByColumn(int column)
{
    if (column < 0 || column >= m_model->columnCount())
        return;
    const int key = m_model->shownKeys()[column];
    if (key == m_nSortKey) {
        m_bDescending = !m_bDescending;
    } else {
        m_nSortKey = key;
        m_bDescending = false;
    }
    SortList();
}

void RecordingListPane::SelectAll()
{
    if (m_model->rowCount() == 0)
        return;
    // Every row selected, none focused; one notice for the whole change, below.
    m_bSorting = true;
    m_list->selectAll();
    m_list->selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    m_bSorting = false;
    m_model->setMarkedRow(-1);
    m_nSelCount = m_model->rowCount();
    m_panel->UnloadRecording(m_nSelCount);
    Q_EMIT stateChanged();
}

void RecordingListPane::InvertSelection()
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
        m_panel->UnloadRecording(m_nSelCount);
    } else {
        m_bSorting = true;
        m_list->selectionModel()->setCurrentIndex(m_model->index(rows.first(), 0), QItemSelectionModel::NoUpdate);
        m_bSorting = false;
        m_model->setMarkedRow(rows.first());
        m_panel->LoadRecording(m_document.GetExistingRecordPath(m_model->recordAt(rows.first())), rows.first() + 1);
        if (m_nCurrentKind != kListRecorder)
            m_panel->setControlsAllowed(true);
    }
    Q_EMIT stateChanged();
}

void RecordingListPane::AutoSizeColumns()
{
    if (m_model->rowCount() > 0) {
        m_list->resizeColumnsToContents();
        return;
    }
    for (int column = 0; column < m_model->columnCount(); ++column)
        m_list->setColumnWidth(column, m_list->horizontalHeader()->sectionSizeHint(column));
}

bool RecordingListPane::selectNeighbour(int row)
{
    // The record is taken first: selecting a row whose file has vanished removes the row.
    const tagFileList record = m_model->recordAt(row);
    m_list->setCurrentIndex(m_model->index(row, 0)); // selects and loads it
    if (m_document.GetExistingRecordPath(record).isEmpty())
        return false;
    m_list->scrollTo(m_model->index(row, 0));
    return true;
}

bool RecordingListPane::SelectPrevRecording()
{
    const int row = m_list->currentIndex().row();
    return row >= 1 && selectNeighbour(row - 1);
}

bool RecordingListPane::SelectNextRecording()
{
    const int row = m_list->currentIndex().row();
    return row >= 0 && row + 1 < m_model->rowCount() && selectNeighbour(row + 1);
}

int RecordingListPane::focusedRow() const
{
    return m_list->currentIndex().row();
}

void RecordingListPane::RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header)
{
    if (!m_model->RefreshRecordRow(path, row, header))
        return;
    // By path: a list of the recorder's folders may hold one name in several of them.
    if (CFileList* current = m_document.pCurrent()) {
        for (int i = 0; i < current->GetRecordCount(); ++i) {
            if (current->RecordAt(i)->szFilePath == path) {
                current->SetHeaderAt(i, header);
                break;
            }
        }
        // The list made its own copy of the records it shared with the rows: the rows
        // take that copy, so that one copy is kept, not two.
        m_model->shareRecords(current->records());
    }
}

void RecordingListPane::onSelectionChanged()
{
    if (m_bSorting)
        return;
    const QList<int> rows = m_list->selectedRowNumbers();
    m_nSelCount = int(rows.size());
    const int current = m_list->currentIndex().row();
    if (rows.size() != 1 || rows.first() != current) {
        const bool wasLoaded = m_model->markedRow() >= 0;
        m_model->setMarkedRow(-1);
        if ((wasLoaded || rows.size() > 1) && !m_panel->UnloadRecording(m_nSelCount))
            m_bSkipDrag = true;
        Q_EMIT stateChanged();
        return;
    }
    if (current == m_model->markedRow()) {
        Q_EMIT stateChanged();
        return;
    }
    const QString name = m_model->recordAt(current).szFileName;
    const QString path = m_document.GetExistingRecordPath(m_model->recordAt(current));
    if (path.isEmpty()) {
        m_bSkipDrag = true;
        // The row that was loaded lost the selection to this one: the panel lets go of it.
        if (m_model->markedRow() >= 0) {
            m_model->setMarkedRow(-1);
            m_panel->UnloadRecording(0);
        }
        ShowMessage(QStringLiteral("[%1]は存在しません。他のアプリケーションで削除された可能性があります。\nファイルリストから削除します。")
                        .arg(name),
                    MessageIcon::Error);
        if (CFileList* list = m_document.pCurrent())
            list->RemoveRecord(name);
        m_bSorting = true; // the removal below is no selection of the user's
        m_list->selectionModel()->clearSelection();
        m_model->removeRecordRow(current);
        m_bSorting = false;
        m_nSelCount = int(m_list->selectedRowNumbers().size());
        UpdateCounts();
        Q_EMIT stateChanged();
        return;
    }
    m_model->setMarkedRow(current);
    // A header that could not be written on leaving the last recording counts too.
    bool written = m_panel->UnloadRecording(0);
    written = m_panel->LoadRecording(path, current + 1) && written;
    if (!written)
        m_bSkipDrag = true;
    if (m_nCurrentKind != kListRecorder)
        m_panel->setControlsAllowed(true);
    Q_EMIT stateChanged();
}

void RecordingListPane::OnFind()
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

void RecordingListPane::FindPrevious()
{
    if (m_strFind.isEmpty())
        OnFind();
    else
        search(false);
}

void RecordingListPane::FindNext()
{
    if (m_strFind.isEmpty())
        OnFind();
    else
        search(true);
}

void RecordingListPane::search(bool forward)
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
