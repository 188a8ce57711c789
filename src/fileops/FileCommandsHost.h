#pragma once

#include "document/FolderTree.h"
#include "recording/FileListRecord.h"

#include <QList>
#include <QString>
#include <vector>

class QWidget;

// The first pane of the status bar when nothing is going on.
inline const QString kIdleStatusText = QStringLiteral("レディ");

// What the file commands ask of the window they work in: its recording list,
// its folder tree, its control panel and its status bar. The main view
// implements it; the commands never reach the view's panes themselves.
class FileCommandsHost
{
public:
    virtual ~FileCommandsHost() = default;

    // The window the commands' dialogs belong to.
    virtual QWidget* dialogParent() const = 0;
    virtual void showStatusText(const QString& text) = 0;
    // Applies the commands' enable rules to the window's present state.
    virtual void UpdateCommandStates() = 0;

    // The control panel lets go of its recording (its header written first).
    virtual void unloadRecording() = 0;
    // After an operation that let go of the recording: the panel loads the one
    // selected and focused row again, or nothing when not exactly one is.
    virtual void reloadSelection() = 0;

    // The recording list's rows.
    virtual int rowCount() const = 0;
    virtual tagFileList recordAt(int row) const = 0;
    // The selected rows, in row order; the focused row, or -1.
    virtual QList<int> selectedRows() const = 0;
    virtual int focusedRow() const = 0;
    virtual void appendRow(const tagFileList& record) = 0;
    // The row shows the record in place of its old one.
    virtual void replaceRow(int row, const tagFileList& record) = 0;
    // The row's header changed, and its folder's record with it.
    virtual void RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header) = 0;
    // The rows refilled from the document's current list.
    virtual void refillList() = 0;
    virtual void SortList() = 0;
    virtual void UpdateCounts() = 0;
    // No row selected; then the focus (and the selection) on one row.
    virtual void clearSelection() = 0;
    virtual void focusRow(int row) = 0;

    // The folder tree, whose nodes are known by their lists' ids (0: a root).
    virtual int selectedFolderId() const = 0;
    virtual bool hasFolderNode(int listId) const = 0;
    // A node for a new folder below the selected node (the save folder's root
    // when none is selected), shown expanded.
    virtual void addFolderNodeBelowSelection(const QString& label, int listId) = 0;
    // The node goes with everything below it (the save folder's root is selected first).
    virtual void removeFolderNode(int listId) = 0;
    // The node's children go, with their lists.
    virtual void clearFolderNode(int listId) = 0;
    // The node shows this label and these children (their lists are the document's already).
    virtual void setFolderNode(int listId, const QString& label, const std::vector<FolderTreeNode>& children) = 0;
    // The save folder's part of the tree built again from the disk.
    virtual void RebuildSaveFolder() = 0;
};
