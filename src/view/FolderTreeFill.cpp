#include "FolderTreeFill.h"

#include <QApplication>
#include <QStyle>
#include <QTreeWidget>

namespace {

QIcon imageIcon(int image)
{
    QStyle* style = QApplication::style();
    switch (image) {
    case kImageTop:
        return style->standardIcon(QStyle::SP_MediaVolume);
    case kImageCard:
        return style->standardIcon(QStyle::SP_DriveFDIcon);
    case kImageSave:
        return style->standardIcon(QStyle::SP_DriveHDIcon);
    case kImageFolderOpen:
        return style->standardIcon(QStyle::SP_DirOpenIcon);
    case kImageRecorder:
        return style->standardIcon(QStyle::SP_DriveCDIcon);
    default:
        return style->standardIcon(QStyle::SP_DirClosedIcon);
    }
}

QTreeWidgetItem* makeItem(const FolderTreeNode& node)
{
    auto* item = new QTreeWidgetItem({node.label});
    QIcon icon = imageIcon(node.image);
    if (node.selectedImage != node.image)
        icon.addPixmap(imageIcon(node.selectedImage).pixmap(16), QIcon::Selected);
    item->setIcon(0, icon);
    item->setData(0, kListIdRole, node.id);
    for (const FolderTreeNode& child : node.children)
        item->addChild(makeItem(child));
    return item;
}

} // namespace

void FillFolderTree(QTreeWidget* tree, const FolderTreeNode& root)
{
    tree->clear();
    QTreeWidgetItem* top = makeItem(root);
    tree->addTopLevelItem(top);
    for (int i = 0; i < top->childCount(); ++i) {
        if (top->child(i)->childCount() > 0)
            top->child(i)->setExpanded(true);
    }
    top->setExpanded(true);
    tree->setCurrentItem(top);
}
