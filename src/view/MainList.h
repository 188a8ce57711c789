#pragma once

#include <QTableView>

class RecordingListModel;

// The recording list: full rows, several may be selected, the row numbers in
// the vertical header (shown or hidden by the setting "Number").
class CMainList : public QTableView
{
    Q_OBJECT

public:
    explicit CMainList(RecordingListModel* model, QWidget* parent = nullptr);

    RecordingListModel* recordings() const { return m_model; }
    QList<int> selectedRowNumbers() const;
    void showRowNumbers(bool shown);

private:
    RecordingListModel* m_model;
};
