#pragma once

#include "document/FolderTree.h"

#include <QTreeWidget>

class CTALVEN77PCDoc;

// The role of a tree item that holds its list's id (0 for the roots).
inline constexpr int kListIdRole = Qt::UserRole + 1;

// The folder tree on the left of the main view: the top root "Voice Data" with
// the SD-card, save-folder, option-folder and recorder roots and a node per
// list of the document. Nodes come and go one at a time (drives arriving,
// folders created or deleted) without rebuilding the rest or losing the
// selection; a node's list leaves the document with it.
class FolderTreePane : public QTreeWidget
{
    Q_OBJECT

public:
    explicit FolderTreePane(CTALVEN77PCDoc& document, QWidget* parent = nullptr);

    // Replaces every node: each root that received a node is expanded, then
    // the top root is expanded and selected.
    void Fill(const FolderTreeNode& root);

    QTreeWidgetItem* topRoot() const;
    QTreeWidgetItem* rootLabelled(const QString& label) const;
    static int listId(const QTreeWidgetItem* node);
    int selectedListId() const;
    QTreeWidgetItem* findNode(int listId) const;

    // A folder node (images 3 and 4) appended as the last child of parent.
    QTreeWidgetItem* addFolderNode(QTreeWidgetItem* parent, const QString& label, int listId);
    // Removes parent's child nodes and, below them, the document's list of each.
    void removeChildren(QTreeWidgetItem* parent);
    // Removes the node with everything below it, and their lists. When the
    // selection is among them, the top root is selected first.
    void removeNode(QTreeWidgetItem* node);
    // Replaces parent's child nodes by these (their lists are the document's already).
    void replaceChildren(QTreeWidgetItem* parent, const std::vector<FolderTreeNode>& children);

    // The width the pane needs to show the labels of its open nodes whole.
    int labelsWidth() const;

    // The folder under this point of the viewport on which dragged recordings
    // may be dropped (another save or registered folder), or 0.
    int dropTargetAt(const QPoint& viewportPosition) const;

Q_SIGNALS:
    // Recordings of the list were dropped on this folder.
    void dropOnFolder(int folderId);
    // A right click on a node, which has been selected first.
    void nodeMenuRequested(QTreeWidgetItem* node, const QPoint& globalPosition);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    QTreeWidgetItem* makeItem(const FolderTreeNode& node) const;
    void forgetLists(QTreeWidgetItem* node);

    CTALVEN77PCDoc& m_document;
};
