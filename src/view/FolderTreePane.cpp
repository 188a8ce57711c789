#include "FolderTreePane.h"

#include "widgets/ElidedToolTips.h"
#include "MainList.h"
#include "TreeImages.h"
#include "document/TALVEN77PCDoc.h"

#include <QDropEvent>
#include <QMimeData>
#include <QStyle>
#include <QTreeWidgetItemIterator>
#include <algorithm>

FolderTreePane::FolderTreePane(CTALVEN77PCDoc& document, QWidget* parent)
    : QTreeWidget(parent), m_document(document)
{
    setHeaderHidden(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    new ElidedToolTips(this);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QTreeWidgetItem* node = itemAt(at);
        if (!node)
            return;
        setCurrentItem(node); // selects it first, as a left click would
        Q_EMIT nodeMenuRequested(node, viewport()->mapToGlobal(at));
    });
}

QTreeWidgetItem* FolderTreePane::makeItem(const FolderTreeNode& node) const
{
    auto* item = new QTreeWidgetItem({node.label});
    QIcon icon = TreeImage(node.image);
    if (node.selectedImage != node.image) {
        for (const int scale : {1, 2})
            icon.addPixmap(TreeImage(node.selectedImage).pixmap(QSize(16, 16), qreal(scale)), QIcon::Selected);
    }
    item->setIcon(0, icon);
    item->setData(0, kListIdRole, node.id);
    for (const FolderTreeNode& child : node.children)
        item->addChild(makeItem(child));
    return item;
}

void FolderTreePane::Fill(const FolderTreeNode& root)
{
    clear();
    QTreeWidgetItem* top = makeItem(root);
    addTopLevelItem(top);
    for (int i = 0; i < top->childCount(); ++i) {
        if (top->child(i)->childCount() > 0)
            top->child(i)->setExpanded(true);
    }
    top->setExpanded(true);
    setCurrentItem(top);
}

int FolderTreePane::labelsWidth() const
{
    int widest = 0;
    for (QTreeWidgetItemIterator it(const_cast<FolderTreePane*>(this)); *it; ++it) {
        const QTreeWidgetItem* node = *it;
        bool shown = true;
        for (const QTreeWidgetItem* above = node->parent(); above && shown; above = above->parent())
            shown = above->isExpanded();
        if (!shown)
            continue;
        // The node's place after its indentation, as the viewport lays it out unscrolled.
        const int left = visualItemRect(node).left() + horizontalOffset();
        widest = std::max(widest, left + sizeHintForIndex(indexFromItem(node)).width());
    }
    // A long tree brings its scroll bar.
    return widest + 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
}

QTreeWidgetItem* FolderTreePane::topRoot() const
{
    return topLevelItem(0);
}

QTreeWidgetItem* FolderTreePane::rootLabelled(const QString& label) const
{
    QTreeWidgetItem* top = topRoot();
    for (int i = 0; top && i < top->childCount(); ++i) {
        if (top->child(i)->text(0) == label)
            return top->child(i);
    }
    return nullptr;
}

int FolderTreePane::listId(const QTreeWidgetItem* node)
{
    return node ? node->data(0, kListIdRole).toInt() : 0;
}

int FolderTreePane::selectedListId() const
{
    return listId(currentItem());
}

QTreeWidgetItem* FolderTreePane::findNode(int id) const
{
    if (id == 0)
        return nullptr;
    for (QTreeWidgetItemIterator it(const_cast<FolderTreePane*>(this)); *it; ++it) {
        if (listId(*it) == id)
            return *it;
    }
    return nullptr;
}

QTreeWidgetItem* FolderTreePane::addFolderNode(QTreeWidgetItem* parent, const QString& label, int id)
{
    QTreeWidgetItem* node = makeItem({label, kImageFolder, kImageFolderOpen, id, {}});
    parent->addChild(node);
    return node;
}

void FolderTreePane::forgetLists(QTreeWidgetItem* node)
{
    for (int i = 0; i < node->childCount(); ++i)
        forgetLists(node->child(i));
    if (const int id = listId(node)) {
        if (m_document.pCurrent() && m_document.pCurrent()->nId() == id)
            m_document.ClearCurrent();
        m_document.RemoveList(id);
    }
}

void FolderTreePane::removeChildren(QTreeWidgetItem* parent)
{
    while (parent->childCount() > 0)
        removeNode(parent->child(parent->childCount() - 1));
}

void FolderTreePane::removeNode(QTreeWidgetItem* node)
{
    // The selection does not wander to a neighbour (which would list it, or
    // start a registration on the option-folder root): it goes to the top root.
    for (QTreeWidgetItem* item = currentItem(); item; item = item->parent()) {
        if (item == node) {
            setCurrentItem(topRoot());
            break;
        }
    }
    forgetLists(node);
    delete node;
}

void FolderTreePane::replaceChildren(QTreeWidgetItem* parent, const std::vector<FolderTreeNode>& children)
{
    while (parent->childCount() > 0)
        delete parent->takeChild(parent->childCount() - 1);
    for (const FolderTreeNode& child : children)
        parent->addChild(makeItem(child));
}

int FolderTreePane::dropTargetAt(const QPoint& viewportPosition) const
{
    const QTreeWidgetItem* node = itemAt(viewportPosition);
    const int target = listId(node);
    return node && m_document.CanDropOnFolder(target, selectedListId()) ? target : 0;
}

bool FolderTreePane::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData()->hasFormat(CMainList::recordingsMimeType()))
            return QTreeWidget::viewportEvent(event);
        const int target = dropTargetAt(drop->position().toPoint());
        if (event->type() == QEvent::DragEnter) {
            drop->acceptProposedAction(); // the answer comes with each move
        } else if (target == 0) {
            drop->ignore();
        } else {
            drop->setDropAction(Qt::CopyAction); // a drop always copies
            drop->accept();
            if (event->type() == QEvent::Drop)
                Q_EMIT dropOnFolder(target);
        }
        return true;
    }
    default:
        return QTreeWidget::viewportEvent(event);
    }
}
