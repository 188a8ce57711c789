#include "MainFrame.h"

#include "platform/ProgramIdentity.h"
#include "view/TALVEN77PCView.h"

#include <QStatusBar>

CMainFrame::CMainFrame(CTALVEN77PCDoc& document, QWidget* parent)
    : QMainWindow(parent), m_view(new CTALVEN77PCView(document, this))
{
    setWindowTitle(kProgramTitle);
    setMinimumSize(850, 530);
    setCentralWidget(m_view);
    connect(m_view, &CTALVEN77PCView::statusText, this, [this](const QString& text) {
        statusBar()->showMessage(text);
        statusBar()->repaint();
    });
    statusBar()->showMessage(QStringLiteral("レディ"));
    m_view->OnInitialUpdate();
}

QTreeWidget* CMainFrame::folderTree() const
{
    return m_view->folderTree();
}
