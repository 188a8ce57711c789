// What the file commands ask of the window: its list's rows and selection, the
// panel's recording and the folder tree's nodes.
#include "TALVEN77PCView.h"

#include "FolderTreePane.h"
#include "MainList.h"
#include "RecordingListModel.h"
#include "RecordingListPane.h"
#include "player/RecordingPanel.h"

#include <QItemSelectionModel>

QWidget* CTALVEN77PCView::dialogParent() const
{
    return window();
}

void CTALVEN77PCView::unloadRecording()
{
    m_panel->UnloadRecording(0);
}

void CTALVEN77PCView::reloadSelection()
{
    m_listPane->reloadSelection();
}

int CTALVEN77PCView::rowCount() const
{
    return recordings()->rowCount();
}

tagFileList CTALVEN77PCView::recordAt(int row) const
{
    return recordings()->recordAt(row);
}

QList<int> CTALVEN77PCView::selectedRows() const
{
    return recordingList()->selectedRowNumbers();
}

int CTALVEN77PCView::focusedRow() const
{
    return m_listPane->focusedRow();
}

void CTALVEN77PCView::appendRow(const tagFileList& record)
{
    recordings()->appendRecord(record);
}

void CTALVEN77PCView::replaceRow(int row, const tagFileList& record)
{
    recordings()->replaceRecordRow(row, record);
}

void CTALVEN77PCView::refillList()
{
    m_listPane->Clear();
    m_listPane->FillList();
}

void CTALVEN77PCView::clearSelection()
{
    recordingList()->selectionModel()->clear();
}

void CTALVEN77PCView::focusRow(int row)
{
    recordingList()->setCurrentIndex(recordings()->index(row, 0));
}

int CTALVEN77PCView::selectedFolderId() const
{
    return m_tree->selectedListId();
}

bool CTALVEN77PCView::hasFolderNode(int listId) const
{
    return m_tree->findNode(listId) != nullptr;
}

void CTALVEN77PCView::addFolderNodeBelowSelection(const QString& label, int listId)
{
    QTreeWidgetItem* parent = m_tree->currentItem();
    if (!parent)
        parent = rootLabelled(kSaveRootLabel);
    m_tree->addFolderNode(parent, label, listId);
    parent->setExpanded(true);
}

void CTALVEN77PCView::removeFolderNode(int listId)
{
    if (QTreeWidgetItem* node = m_tree->findNode(listId)) {
        m_tree->setCurrentItem(rootLabelled(kSaveRootLabel));
        m_tree->removeNode(node);
    }
}

void CTALVEN77PCView::clearFolderNode(int listId)
{
    if (QTreeWidgetItem* node = m_tree->findNode(listId))
        m_tree->removeChildren(node);
}

void CTALVEN77PCView::setFolderNode(int listId, const QString& label, const std::vector<FolderTreeNode>& children)
{
    if (QTreeWidgetItem* node = m_tree->findNode(listId)) {
        node->setText(0, label);
        m_tree->replaceChildren(node, children);
    }
}
