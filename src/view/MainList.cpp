#include "MainList.h"

#include "RecordingListModel.h"

#include <QDrag>
#include <QHeaderView>
#include <QMimeData>
#include <algorithm>

CMainList::CMainList(RecordingListModel* model, QWidget* parent)
    : QTableView(parent), m_model(model), m_runDrag([](QDrag& drag) { drag.exec(Qt::CopyAction); })
{
    setModel(model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setAlternatingRowColors(false);
    verticalHeader()->setDefaultSectionSize(16 + 2);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    verticalHeader()->setMinimumWidth(40);
    horizontalHeader()->setHighlightSections(false);
}

QString CMainList::recordingsMimeType()
{
    return RecordingListModel::recordingsMimeType();
}

QList<int> CMainList::selectedRowNumbers() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

int CMainList::textsWidth(int column, int first, int last) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    int width = 0;
    for (int row = first; row < last; ++row) {
        const QModelIndex index = model()->index(row, column);
        if (const QAbstractItemDelegate* delegate = itemDelegateForIndex(index))
            width = std::max(width, delegate->sizeHint(option, index).width());
    }
    return width;
}

int CMainList::measuredRows() const
{
    const int rows = model()->rowCount();
    const int precision = horizontalHeader()->resizeContentsPrecision();
    return precision < 0 ? rows : precision == 0 ? rowsOnScreen() : std::min(rows, precision);
}

int CMainList::rowsOnScreen() const
{
    const int rows = model()->rowCount();
    const int bottom = verticalHeader()->visualIndexAt(viewport()->height());
    return !isVisible() || bottom < 0 ? rows : std::min(rows, bottom + 1);
}

void CMainList::showRowNumbers(bool shown)
{
    verticalHeader()->setVisible(shown);
}

void CMainList::startDrag(Qt::DropActions)
{
    bool allowed = true;
    Q_EMIT dragStarting(allowed);
    if (!allowed)
        return;
    QMimeData* data = m_model->mimeData(selectionModel()->selectedRows());
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    m_runDrag(*drag);
}
