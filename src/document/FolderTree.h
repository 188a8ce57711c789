#pragma once

#include <QString>
#include <vector>

class CTALVEN77PCDoc;

// Texts of the tree's roots; the view tells the roots apart by them.
inline const QString kTopRootLabel = QStringLiteral("Voice Data");
inline const QString kCardRootLabel = QStringLiteral("SDｶｰﾄﾞ");
inline const QString kSaveRootLabel = QStringLiteral("保存用ﾌｫﾙﾀﾞ");
inline const QString kOptionRootLabel = QStringLiteral("任意のﾌｫﾙﾀﾞ");
inline const QString kRecorderRootLabel = QStringLiteral("TALVEN-77");

// Images of the tree's image list.
enum FolderTreeImage {
    kImageTop = 0,
    kImageCard = 1,
    kImageSave = 2,
    kImageFolder = 3,
    kImageFolderOpen = 4,
    kImageRecorder = 5,
};

// One node of the folder tree as the view shows it; id 0 for the roots.
struct FolderTreeNode
{
    QString label;
    int image = kImageFolder;
    int selectedImage = kImageFolderOpen;
    int id = 0;
    std::vector<FolderTreeNode> children;
};

// The tree of the document's lists: the top root with the SD-card, save-folder,
// option-folder and recorder roots in this order; folders of the save folder
// nested as on disk.
FolderTreeNode BuildFolderTree(const CTALVEN77PCDoc& document);
