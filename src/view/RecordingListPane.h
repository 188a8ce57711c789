#pragma once

#include "player/RecordingPanel.h"

#include <QHash>
#include <QWidget>
#include <functional>
#include <memory>

struct tagVoiceHeader;
class CFindDlg;
class CMainList;
class CSetting;
class CTALVEN77PCDoc;
class RecordingListModel;

// The recording list on the right of the main view: the rows of the
// document's current list in the columns the settings show, sorted by one of
// ten keys; the row numbers beside them. A single selected row is loaded into
// the control panel; the model's row marker tells which row that is, and it
// follows the row through sorting. Find works on the rows' texts.
class RecordingListPane : public QWidget, public RecordingListHost
{
    Q_OBJECT

public:
    RecordingListPane(CTALVEN77PCDoc& document, CSetting& setting, QWidget* parent = nullptr);
    ~RecordingListPane() override;

    CMainList* list() const { return m_list; }
    RecordingListModel* model() const { return m_model; }
    // The control panel (not owned); none: one that loads nothing.
    void setPanel(RecordingPanel* panel);
    // The kind of the folder the tree shows (the recorder over USB is not played from).
    void setCurrentKind(int kind) { m_nCurrentKind = kind; }

    // Columns from the display settings, then the rows of the current list. A
    // column has the width the user last gave its key (kept across restarts),
    // else the width its texts need in the rows filled (its header text's at least).
    void BuildColumns();
    void FillList();
    void SortList();
    void UpdateCounts();
    // Empties the rows (another folder is about to be shown).
    void Clear();
    // Selects and focuses the first row, when there is one.
    void SelectFirstRow();
    // The control panel loads the one selected and focused row again (after an
    // operation let go of its recording while the rows stayed); with not
    // exactly one row selected it holds none.
    void reloadSelection();

    void setSortKey(int key);
    void toggleDescending();
    // A click on a column header: sorts by its key; a second click reverses.
    void sortByColumn(int column);
    int sortKey() const { return m_nSortKey; }
    bool descending() const { return m_bDescending; }
    int selectedCount() const { return m_nSelCount; }
    // The row whose recording is loaded in the control panel, or -1.
    int loadedRow() const;

    void SelectAll();
    // Each row selected when it was not and the other way round (the list must have the focus).
    void InvertSelection();
    // Columns as wide as their texts (their header texts for an empty folder).
    void AutoSizeColumns();
    // The single selection one row up or down (the neighbour is loaded); true
    // only when the neighbour was there and its file exists.
    bool SelectPrevRecording() override;
    bool SelectNextRecording() override;
    // After the control panel changed a header: the record and its row.
    void RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header) override;
    int focusedRow() const override;

    // Find (Ctrl+F), find previous (Shift+F3) and find next (F3); the last two
    // run the dialog first while nothing was searched yet.
    void OnFind();
    void FindPrevious();
    void FindNext();
    CFindDlg& findDialog() { return *m_findDlg; }
    // How the find dialog is run (modally by default); tests answer it themselves.
    using FindDialogRunner = std::function<int(CFindDlg&)>;
    void setFindDialogRunner(FindDialogRunner runner) { m_runFindDialog = std::move(runner); }

Q_SIGNALS:
    // The number of recordings of the shown folder, for the status bar.
    void recordingCount(int count);
    // Selection, rows or sort order changed: the commands' states may follow.
    void stateChanged();

private:
    void onSelectionChanged();
    bool selectNeighbour(int row);
    void search(bool forward);
    void showSortIndicator();
    void onColumnResized(int column, int width);
    void loadColumnWidths();
    int headerWidth(int column) const;
    void fitUnsizedColumns();
    void fitMoreRows(int round, int first);
    void widenUnsizedColumns(int first, int last, bool fromHeader);
    void saveColumnWidths() const;

    CTALVEN77PCDoc& m_document;
    CSetting& m_setting;
    RecordingListModel* m_model;
    CMainList* m_list;
    RecordingPanel* m_panel = nullptr;
    int m_nCurrentKind = 0;
    int m_nSortKey = 0;
    bool m_bDescending = false;
    bool m_bSorting = false;
    bool m_bBuildingColumns = false;
    int m_fitRound = 0; // counts the fills: a later one ends the measuring of an earlier one's rows
    // The width the user gave each column, by its key.
    QHash<int, int> m_columnWidths;
    int m_nSelCount = 0;
    bool m_bSkipDrag = false;
    QString m_strFind;
    int m_nFindTarget = 0;
    bool m_bFindExact = false;
    std::unique_ptr<CFindDlg> m_findDlg;
    FindDialogRunner m_runFindDialog;
};
