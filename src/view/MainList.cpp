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
