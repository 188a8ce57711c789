#pragma once

#include "recording/FileList.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The model behind the folder tree: one scan list for the recorder attached by
// USB, one for an SD card in a reader, one per folder below the save folder and
// one per registered folder. Every question about a tree node goes through the
// id of its list; the roots carry no id (0).
class CTALVEN77PCDoc
{
public:
    static constexpr int kMaxOptionFolders = 10;

    // Start-up progress for the splash window's status line.
    using ProgressText = std::function<void(const QString& text)>;

    // Draws id 0 for itself (so every list id is at least 1) and runs no check;
    // RunStartupChecks runs them.
    CTALVEN77PCDoc();

    // The three start-up checks: drives, the save folder, the registered folders.
    void RunStartupChecks(const QString& savePath, const ProgressText& progress = {});

    void CheckDrives();
    bool AddRecorderRoot(const QString& drive);
    bool AddDriveRoot(int kind, const QString& drive);
    void ScanSaveFolder(const QString& savePath, const ProgressText& progress = {});
    // A list for a new folder of the save folder (not scanned yet); its id.
    int AddSaveSubfolderList(const QString& folderPath);
    // Lists for the folders below a folder of the save folder, depth first.
    void AddSaveSubfolderLists(const QString& folderPath, const ProgressText& progress = {});
    void LoadOptionFolders(const ProgressText& progress = {});
    bool RegisterOptionFolder(const QString& path);
    bool ReleaseOptionFolder(const QString& path);
    int CountOptionFolders() const;

    void RemoveListsOfKind(int kind);
    void RemoveList(int id);
    int GetListKind(int id) const;
    QString GetListFolder(int id) const;
    QString GetListLabel(int id) const;
    void RescanList(int id);
    QString RefreshList(int id);
    QString ChangeListFolder(int id, const QString& folderPath);

    std::optional<int> GetSaveSubfolderId(int n) const;
    QString GetSaveSubfolderLabel(int n) const;
    QString GetSaveSubfolderPath(int n) const;
    QString GetOptionFolderLabel(int n) const;
    std::optional<int> FindSaveSubfolderId(const QString& folderPath) const;
    std::optional<int> FindOptionFolderId(const QString& folderPath) const;
    std::optional<int> FindParentSaveSubfolderId(const QString& folderPath) const;

    // The list the recording list pane shows; none when another node is selected.
    CFileList* pCurrent() const { return m_pCurrent; }
    void SetCurrent(int id);
    // No list is shown; a folder's list that was shown rests (keeps its records packed).
    void ClearCurrent();
    // Copies of records of the current list; an empty record when none matches.
    tagFileList GetCurrentRecord(int position) const;
    tagFileList FindCurrentRecord(const QString& fileName) const; // name ignoring case
    QString GetExistingRecordPath(const QString& fileName) const;
    // The same for the file a row shows: found by its path (a list of the
    // recorder's folders may hold one name in several of them), else by name.
    tagFileList FindCurrentRecord(const tagFileList& row) const;
    QString GetExistingRecordPath(const tagFileList& row) const;

    int CollectUntransferred(int kind, QList<tagFileList>& out) const;
    // The record of this file in the first list of the kind now carries the transferred flag.
    void MarkTransferred(int kind, const tagFileList& record);
    std::optional<QString> GetCardDrive() const;
    std::optional<QString> GetRecorderDrive() const;

    // May recordings dragged from the list be dropped on this folder node?
    bool CanDropOnFolder(int targetId, int selectedId) const;

    CFileList* FindList(int id) const;
    // The list, kept alive for the holder: a step that works on a list across an event
    // loop (a message box, a wait) holds it this way, since the folder watcher may read
    // the save folder again meanwhile and replace the document's lists.
    std::shared_ptr<CFileList> ShareList(int id) const;
    const std::vector<std::shared_ptr<CFileList>>& fileLists() const { return m_fileLists; }
    const QStringList& optionPaths() const { return m_optionPaths; }

private:
    CFileList* firstListOfKind(int kind) const;
    std::optional<int> findListByFolder(int kind, const QString& folderPath) const;
    CFileList* nthListOfKind(int kind, int n) const;
    void writeOptionRegister() const;
    CFileList& appendList(int kind, bool recursive);

    std::vector<std::shared_ptr<CFileList>> m_fileLists;
    QStringList m_optionPaths;
    CFileList* m_pCurrent = nullptr;
};
