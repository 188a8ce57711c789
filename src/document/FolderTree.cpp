#include "FolderTree.h"

#include "TALVEN77PCDoc.h"
#include "platform/Paths.h"

#include <QDir>
#include <algorithm>
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

// Folder names in ordinal order ignoring case, as a case-insensitive file
// system lists them: code units compared with each letter upper-cased; names
// that differ in case alone (possible here) in plain code-unit order.
bool folderNameLess(const QString& a, const QString& b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a.at(i).toUpper().unicode();
        const char16_t y = b.at(i).toUpper().unicode();
        if (x != y)
            return x < y;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

void sortFolderLevels(std::vector<FolderTreeNode>& nodes)
{
    std::stable_sort(nodes.begin(), nodes.end(),
                     [](const FolderTreeNode& a, const FolderTreeNode& b) { return folderNameLess(a.label, b.label); });
    for (FolderTreeNode& node : nodes)
        sortFolderLevels(node.children);
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
    // The directory gives its folders in no particular order.
    sortFolderLevels(save.children);
    return top;
}
