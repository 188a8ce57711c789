#include "MainFrame.h"

#include "document/FolderTree.h"
#include "document/TALVEN77PCDoc.h"
#include "platform/ProgramIdentity.h"
#include "view/FolderTreeFill.h"

#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>

CMainFrame::CMainFrame(CTALVEN77PCDoc& document, QWidget* parent)
    : QMainWindow(parent), m_document(document), m_tree(new QTreeWidget)
{
    setWindowTitle(kProgramTitle);
    setMinimumSize(850, 530);
    m_tree->setHeaderHidden(true);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tree);
    auto* listArea = new QLabel(splitter);
    listArea->setBackgroundRole(QPalette::Base);
    listArea->setAutoFillBackground(true);
    splitter->addWidget(listArea);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 630});
    setCentralWidget(splitter);
    statusBar()->showMessage(QStringLiteral("レディ"));
    rebuildTree();
}

void CMainFrame::rebuildTree()
{
    FillFolderTree(m_tree, BuildFolderTree(m_document));
}
