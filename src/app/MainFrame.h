#pragma once

#include <QMainWindow>

class CTALVEN77PCDoc;
class QTreeWidget;

// The main window. For now it shows the folder tree of the document beside an
// empty list area; menus, toolbar, the list and the control panel come later.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    explicit CMainFrame(CTALVEN77PCDoc& document, QWidget* parent = nullptr);

    QTreeWidget* folderTree() const { return m_tree; }
    void rebuildTree();

private:
    CTALVEN77PCDoc& m_document;
    QTreeWidget* m_tree;
};
