#pragma once

#include <QMainWindow>

class CTALVEN77PCDoc;
class CTALVEN77PCView;
class QTreeWidget;

// The main window around the view. For now it has the status bar; the menus,
// toolbar, the recording list and the control panel come later.
class CMainFrame : public QMainWindow
{
    Q_OBJECT

public:
    explicit CMainFrame(CTALVEN77PCDoc& document, QWidget* parent = nullptr);

    CTALVEN77PCView* view() const { return m_view; }
    QTreeWidget* folderTree() const;

private:
    CTALVEN77PCView* m_view;
};
