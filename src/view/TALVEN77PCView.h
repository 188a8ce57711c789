#pragma once

#include "FolderTreePane.h"
#include "export/RecordingExport.h"
#include "fileops/FileCommandsHost.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

struct tagVoiceHeader;
class ArchiveLink;
class CDeviceNameDlg;
class CFindDlg;
class CMainList;
class CPanelDlg;
class FileCommands;
class TransportCommands;
class CSetting;
class CSettingDlg;
class SilenceSettingsDlg;
class CTALVEN77PCDoc;
class CommandSet;
class DriveWatcher;
class RecordingListModel;
class RecordingListPane;
class RecordingPanel;
class QMenu;
class QSplitter;
class QTimer;

// The main view: the control panel's place on top, below it the folder tree
// and the recording list, split by a bar that keeps 150 pixels from both
// edges. It routes the window's commands to their owners and keeps their
// enabled states; selecting a tree node makes its list current and scans it
// on first use; selecting the option-folder root registers a folder. The file
// commands reach the panes through it.
class CTALVEN77PCView : public QWidget, public FileCommandsHost
{
    Q_OBJECT

public:
    static constexpr int kSplitMargin = 150;

    CTALVEN77PCView(CTALVEN77PCDoc& document, CSetting& setting, QWidget* parent = nullptr);
    ~CTALVEN77PCView() override;

    // Builds the tree from the document, selects the top root and builds the list's columns.
    void OnInitialUpdate();

    CommandSet& commands() const { return *m_commands; }
    CTALVEN77PCDoc& document() const { return m_document; }
    const CSetting& setting() const { return m_setting; }
    // The search of every folder and the watching of the folders shown.
    ArchiveLink& archive() const { return *m_archive; }
    // The control panel in place (the view's own, another, or none that loads nothing).
    RecordingPanel& panel() const { return *m_panel; }
    FileCommands& fileCommands() const { return *m_fileCommands; }
    // The playback menu's commands, following the panel in place.
    TransportCommands& transportCommands() const { return *m_transportCommands; }
    // Text for the first pane of the status bar.
    void showStatusText(const QString& text) override { Q_EMIT statusText(text); }
    FolderTreePane* folderTree() const { return m_tree; }
    RecordingListPane& listPane() const { return *m_listPane; }
    CMainList* recordingList() const;
    RecordingListModel* recordings() const;

    // The view's own control panel, playing to the default audio output.
    CPanelDlg* controlPanel() const;
    // Another control panel (not owned) in place of the view's own: the view
    // places its widget in the panel area. None: a panel that loads nothing
    // and cannot play. A panel with a widget is set back to none before the
    // view goes, or its widget goes with the view.
    void setPanel(RecordingPanel* panel);

    // The recording list's operations, as the other parts of the window call them.
    void BuildColumns();
    void FillList();
    void SortList() override;
    void UpdateCounts() override;
    bool SelectPrevRecording();
    bool SelectNextRecording();
    void RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header) override;
    void OnFind();
    void FindPrevious();
    void FindNext();
    CFindDlg& findDialog();
    // How the find dialog is run (modally by default); tests answer it themselves.
    void setFindDialogRunner(std::function<int(CFindDlg&)> runner);

    // F7: scans the selected folder again and refills the list.
    void Rebuild();
    // F5: checks the drives, the save folder and the registered folders again;
    // the list keeps its columns and their widths.
    void RefreshAll();
    // Selects the node of the list of that kind and folder, when the tree has one.
    void selectFolder(int kind, const QString& folder);
    // The selected rows' records, in row order; the panel's section of its recording
    // when it is narrower than the whole recording.
    QList<tagFileList> selectedRecords() const;
    std::optional<ExportSpan> panelSection() const;
    // "取り出し": lets go of the loaded recording, then releases the SD card.
    void OnEject();
    // "フォルダの解放": releases the selected registered folder.
    void OnReleaseFolder();
    // A drive came or went: the recorder's or the card's node follows it (the
    // first recorder and the first card with a recorder's identification file
    // only); a copy or move that is running learns that its device went.
    void OnDriveArrived(const QString& drive);
    void OnDriveRemoved(const QString& drive);
    // The save folder's part of the tree built again from the disk; a folder of it
    // that was selected is selected again (its list scanned anew).
    void RebuildSaveFolder() override;
    // "設定(&O)...": the settings dialog; after OK the tree shows the new save
    // folder and the list the chosen columns.
    void OnSettings();
    // "装置名(&D)": the recorder-name register; after OK the recorder's and the
    // card's nodes show the new names.
    void OnDeviceNames();
    // How the two dialogs are run (modally by default); tests answer them themselves.
    void setSettingsDialogRunner(std::function<int(CSettingDlg&)> runner) { m_runSettingsDialog = std::move(runner); }
    void setDeviceNameDialogRunner(std::function<int(CDeviceNameDlg&)> runner)
    {
        m_runDeviceNameDialog = std::move(runner);
    }
    void setSilenceDialogRunner(std::function<int(SilenceSettingsDlg&)> runner)
    {
        m_runSilenceDialog = std::move(runner);
    }

    QSplitter* splitter() const { return m_splitter; }
    int splitPosition() const { return m_nSplit; }
    // 0 nothing that holds recordings, else the kind of the selected place.
    int currentFolderKind() const { return m_nCurrentKind; }

    // The folder chooser for registering a folder: returns a path, or an
    // empty text when cancelled. Tests replace it.
    using FolderChooser = std::function<QString()>;
    void setFolderChooser(FolderChooser chooser) { m_chooseFolder = std::move(chooser); }

    // The context menu of a tree node ("保存用ﾌｫﾙﾀﾞ", "任意のﾌｫﾙﾀﾞ", "SDｶｰﾄﾞ"), or
    // none for nodes without one; and the recording list's ("メインペイン").
    // Their commands act on the selected node: a right click selects it first.
    std::unique_ptr<QMenu> treeMenuFor(QTreeWidgetItem* node);
    std::unique_ptr<QMenu> listMenu();

    QTreeWidgetItem* topRoot() const;
    QTreeWidgetItem* rootLabelled(const QString& label) const;

    // Applies the commands' enable rules to the window's present state.
    void UpdateCommandStates() override;

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
    // The tree and the list as wide as the bar's position says, the list never below its margin.
    void applySplit();
    // What the file commands ask of the window.
    QWidget* dialogParent() const override;
    void unloadRecording() override;
    void reloadSelection() override;
    int rowCount() const override;
    tagFileList recordAt(int row) const override;
    QList<int> selectedRows() const override;
    int focusedRow() const override;
    void appendRow(const tagFileList& record) override;
    void replaceRow(int row, const tagFileList& record) override;
    void refillList() override;
    void clearSelection() override;
    void focusRow(int row) override;
    int selectedFolderId() const override;
    bool hasFolderNode(int listId) const override;
    void addFolderNodeBelowSelection(const QString& label, int listId) override;
    void removeFolderNode(int listId) override;
    void clearFolderNode(int listId) override;
    void setFolderNode(int listId, const QString& label, const std::vector<FolderTreeNode>& children) override;

    void connectCommands();
    void onSelectionChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void addOptionFolder(QTreeWidgetItem* previous);
    void reselect(QTreeWidgetItem* node);
    void showDeviceNodes();
    void scanSaveFolderIntoTree();
    // The automatic transfer of the recorder's recordings not yet transferred, when
    // the setting asks for it: as the recorder arrives, and at start-up under the splash.
    void autoTransferOnArrival();
    void scheduleAutoTransfer(int delayMs);
    void autoTransferAtStartup();
    void applySettings(const QString& oldSavePath);
    void runStep(const QString& text, const std::function<void()>& work);

    CTALVEN77PCDoc& m_document;
    CSetting& m_setting;
    CommandSet* m_commands;
    TransportCommands* m_transportCommands = nullptr;
    QWidget* m_panelArea;
    QSplitter* m_splitter;
    FolderTreePane* m_tree;
    RecordingListPane* m_listPane;
    std::unique_ptr<RecordingPanel> m_nullPanel;
    QPointer<CPanelDlg> m_ownPanel;
    RecordingPanel* m_panel;
    int m_nSplit;
    // No width of the tree was kept from an earlier run: it is given room for its labels.
    bool m_bFitTree = false;
    int m_nCurrentKind = 0;
    FolderChooser m_chooseFolder;
    FileCommands* m_fileCommands;
    DriveWatcher* m_driveWatcher;
    ArchiveLink* m_archive;
    QTimer* m_autoTransferTimer;
    std::function<int(CSettingDlg&)> m_runSettingsDialog;
    std::function<int(CDeviceNameDlg&)> m_runDeviceNameDialog;
    std::function<int(SilenceSettingsDlg&)> m_runSilenceDialog;
};
