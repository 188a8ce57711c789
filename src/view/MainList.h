#pragma once

#include <QTableView>
#include <functional>

class QDrag;

class RecordingListModel;

// The recording list: full rows, several may be selected, the row numbers in
// the vertical header (shown or hidden by the setting "Number").
class CMainList : public QTableView
{
    Q_OBJECT

public:
    explicit CMainList(RecordingListModel* model, QWidget* parent = nullptr);

    RecordingListModel* recordings() const { return m_model; }
    // The type under which dragged rows travel: their file names, one a line.
    static QString recordingsMimeType();
    QList<int> selectedRowNumbers() const;
    void showRowNumbers(bool shown);
    // The width the cell texts of the rows first..last-1 need in the column.
    int textsWidth(int column, int first, int last) const;
    // How many rows sizeHintForColumn measures in a list scrolled to its top:
    // those on screen, then on down to the header's precision.
    int measuredRows() const;
    // How many rows from the top are on screen (all of them while hidden).
    int rowsOnScreen() const;
    // How a drag of rows is carried out (the platform's drag, copying, by
    // default); tests deliver it to its target themselves.
    using DragRunner = std::function<void(QDrag&)>;
    void setDragRunner(DragRunner runner) { m_runDrag = std::move(runner); }

Q_SIGNALS:
    // A drag of the selected rows is about to start; clear allowed to drop it.
    void dragStarting(bool& allowed);

protected:
    void startDrag(Qt::DropActions supportedActions) override;

private:
    RecordingListModel* m_model;
    DragRunner m_runDrag;
};
