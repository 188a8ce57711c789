#pragma once

#include <QPointer>
#include <QWidget>

struct tagVoiceHeader;
#include <functional>
#include <memory>

class CFindDlg;
class CMainList;
class CSetting;
class CTALVEN77PCDoc;
class RecordingListModel;
class RecordingPanel;
class QAction;
class QMenu;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

// The main view: the control panel's place on top, below it the folder tree
// and the recording list area, split by a bar that keeps 150 pixels from both
// edges. Selecting a tree node makes its list current and scans it on first
// use; selecting the option-folder root registers a folder.
class CTALVEN77PCView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSplitMargin = 150;

    CTALVEN77PCView(CTALVEN77PCDoc& document, CSetting& setting, QWidget* parent = nullptr);
    ~CTALVEN77PCView() override;

    // Builds the tree from the document and selects the top root.
    void OnInitialUpdate();

    QTreeWidget* folderTree() const { return m_tree; }
    CMainList* recordingList() const { return m_list; }
    RecordingListModel* recordings() const { return m_model; }

    // The control panel (not owned); a panel that does nothing until one is set.
    void setPanel(RecordingPanel* panel);

    // The recording list (columns from the display settings, rows of the current list).
    void BuildColumns();
    void FillList();
    void SortList();
    void UpdateCounts();
    void setSortKey(int key);
    void toggleDescending();
    int sortKey() const { return m_nSortKey; }
    bool descending() const { return m_bDescending; }
    int selectedCount() const { return m_nSelCount; }
    void SelectAll();
    // The single selection one row up or down (the neighbour is loaded); true
    // when the neighbour's file exists.
    bool SelectPrevRecording();
    bool SelectNextRecording();
    // After the control panel changed a header: the record and its row.
    void RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header);
    // Each row selected when it was not and the other way round (the list must have the focus).
    void InvertSelection();
    // Columns as wide as their texts (their header texts for an empty folder).
    void AutoSizeColumns();
    // F7: scans the selected folder again and refills the list.
    void Rebuild();
    // F5: checks the drives, the save folder and the registered folders again.
    void RefreshAll();

    // Find (Ctrl+F), find previous (Shift+F3) and find next (F3); the last two
    // run the dialog first while nothing was searched yet.
    void OnFind();
    void FindPrevious();
    void FindNext();
    CFindDlg& findDialog() { return *m_findDlg; }
    // How the find dialog is run (modally by default); tests answer it themselves.
    using FindDialogRunner = std::function<int(CFindDlg&)>;
    void setFindDialogRunner(FindDialogRunner runner) { m_runFindDialog = std::move(runner); }
    QSplitter* splitter() const { return m_splitter; }
    int splitPosition() const;
    // 0 nothing that holds recordings, else the kind of the selected place.
    int currentFolderKind() const { return m_nCurrentKind; }

    // The folder chooser for registering a folder: returns a path, or an
    // empty text when cancelled. Tests replace it.
    using FolderChooser = std::function<QString()>;
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    // "フォルダの解放": releases the selected registered folder.
    void OnReleaseFolder();

    // The context menu of a tree node ("保存用ﾌｫﾙﾀﾞ", "任意のﾌｫﾙﾀﾞ", "SDｶｰﾄﾞ"), or
    // none for nodes without one; and the recording list's ("メインペイン").
    std::unique_ptr<QMenu> treeMenuFor(QTreeWidgetItem* node);
    std::unique_ptr<QMenu> listMenu();
    // The frame's eject command, offered in the SD card's menu.
    void setEjectAction(QAction* eject) { m_eject = eject; }

    QTreeWidgetItem* topRoot() const;
    QTreeWidgetItem* rootLabelled(const QString& label) const;

    // The folder under this point of the tree's viewport on which dragged
    // recordings may be dropped (another save or registered folder), or 0.
    int dropTargetAt(const QPoint& viewportPosition) const;

Q_SIGNALS:
    // Recordings of the list were dropped on this folder (copying them is the file commands' part).
    void dropOnFolder(int folderId);
    // Text for the first pane of the status bar.
    void statusText(const QString& text);
    // The number of recordings of the selected folder, for the status bar.
    void recordingCount(int count);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void addOptionFolder(QTreeWidgetItem* previous);
    void selectQuietly(QTreeWidgetItem* item);
    void onListSelectionChanged();
    void search(bool forward);
    int selectedListId() const;

    CTALVEN77PCDoc& m_document;
    CSetting& m_setting;
    QWidget* m_panelArea;
    QSplitter* m_splitter;
    QTreeWidget* m_tree;
    RecordingListModel* m_model;
    CMainList* m_list;
    std::unique_ptr<RecordingPanel> m_nullPanel;
    RecordingPanel* m_panel;
    int m_nSortKey = 0;
    bool m_bDescending = false;
    bool m_bSorting = false;
    int m_nSelCount = 0;
    int m_loadedRow = -1;
    bool m_bSkipDrag = false;
    QString m_strFind;
    int m_nFindTarget = 0;
    bool m_bFindExact = false;
    std::unique_ptr<CFindDlg> m_findDlg;
    FindDialogRunner m_runFindDialog;
    int m_nSplit;
    int m_nCurrentKind = 0;
    bool m_reselecting = false;
    FolderChooser m_chooseFolder;
    QPointer<QAction> m_eject;
};
