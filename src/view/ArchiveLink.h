#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class CFileList;
class CTALVEN77PCView;
class FolderWatcher;
class SearchAllDlg;
class QTimer;

// What ties the window to the archive as a whole: the search of every folder,
// whose chosen result selects its folder and row, and the watching of the
// folders the tree shows, so that recordings another program adds, removes or
// renames there appear without F5.
class ArchiveLink : public QObject
{
    Q_OBJECT

public:
    explicit ArchiveLink(CTALVEN77PCView& view);
    ~ArchiveLink() override;

    // "すべてのフォルダを検索": shows the search (not modal).
    void OnSearchAll();
    // Selects the folder's node and the recording's row; false when the window
    // shows neither.
    bool ShowRecording(const QString& folder, const QString& path);
    // A recording named by its path (the file manager's "open with"): selects its folder and
    // row; says so, and changes nothing, when it is no recording in a folder the tree shows.
    bool OpenRecordingFile(const QString& path);
    SearchAllDlg* searchDialog() const;
    FolderWatcher& watcher() const { return *m_watcher; }
    // The folders of the tree's lists and the save folder, watched from now on.
    void watchShownFolders();

private:
    // How the tree names the list's node: its root's name and its own.
    QString treeNameOf(int listId) const;
    // The recorder's and the card's lists, which take in their subfolders.
    static bool isDeviceList(const CFileList& list);
    void onFoldersChanged(const QStringList& folders);
    void rescanShownList();
    bool subfoldersChanged(const QString& folder) const;

    CTALVEN77PCView& m_view;
    FolderWatcher* m_watcher;
    QPointer<SearchAllDlg> m_dialog;
    bool m_watchPending = false;
    // Changes seen while a recording was being listened to, taken up once it is not.
    QStringList m_deferredFolders;
    QTimer* m_deferTimer;
};
