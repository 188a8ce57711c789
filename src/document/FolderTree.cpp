#include "FolderTree.h"

#include "TALVEN77PCDoc.h"
#include "platform/Paths.h"

#include <QDir>
#include <map>

namespace {

FolderTreeNode folderNode(const CFileList& list)
{
    return {list.strLabel(), kImageFolder, kImageFolderOpen, list.nId(), {}};
}

// Finds the node with the id below node; nullptr when none.
FolderTreeNode* findNode(FolderTreeNode& node, int id)
{
    if (node.id == id)
        return &node;
    for (FolderTreeNode& child : node.children) {
        if (FolderTreeNode* found = findNode(child, id))
            return found;
    }
    return nullptr;
}

} // namespace

FolderTreeNode BuildFolderTree(const CTALVEN77PCDoc& document)
{
    FolderTreeNode top{kTopRootLabel, kImageTop, kImageTop, 0, {}};
    top.children = {
        {kCardRootLabel, kImageCard, kImageCard, 0, {}},
        {kSaveRootLabel, kImageSave, kImageSave, 0, {}},
        {kOptionRootLabel, kImageFolder, kImageFolderOpen, 0, {}},
        {kRecorderRootLabel, kImageRecorder, kImageRecorder, 0, {}},
    };
    FolderTreeNode& card = top.children[0];
    FolderTreeNode& save = top.children[1];
    FolderTreeNode& option = top.children[2];
    FolderTreeNode& recorder = top.children[3];

    for (const auto& list : document.fileLists()) {
        switch (list->nKind()) {
        case kListRecorder:
            recorder.children.push_back(folderNode(*list));
            break;
        case kListCard:
            card.children.push_back(folderNode(*list));
            break;
        case kListRegistered:
            option.children.push_back(folderNode(*list));
            break;
        case kListSaveFolder: {
            // Parents are made before their children, so a parent's node exists already.
            const auto parentId = document.FindParentSaveSubfolderId(list->strFolder());
            FolderTreeNode* parent = parentId ? findNode(save, *parentId) : nullptr;
            (parent ? parent : &save)->children.push_back(folderNode(*list));
            break;
        }
        default:
            break;
        }
    }
    return top;
}
