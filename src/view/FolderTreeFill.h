#pragma once

#include "document/FolderTree.h"

class QTreeWidget;
class QTreeWidgetItem;

// The role of a tree item that holds its list's id (0 for the roots).
inline constexpr int kListIdRole = Qt::UserRole + 1;

// Rebuilds the tree widget from the document's tree: each root that received
// a node is expanded, then the top root is expanded and selected.
void FillFolderTree(QTreeWidget* tree, const FolderTreeNode& root);
