#pragma once

#include "recording/RecordingColumns.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <array>
#include <unordered_map>
#include <vector>

// The rows of the recording list: one per record of the current list, with
// the shown columns in key order (the name always first), sortable by key.
// The model shares the list's records (an implicitly shared QList) instead of
// copying them, and works out a cell's text when it is asked for: a row costs
// little beyond the record itself.
class RecordingListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit RecordingListModel(QObject* parent = nullptr);

    // The keys whose columns are shown; the name is always shown and first.
    void setShownKeys(QList<int> keys);
    const QList<int>& shownKeys() const { return m_keys; }
    int columnOfKey(int key) const { return int(m_keys.indexOf(key)); }

    // Replaces the rows by the records, in their order. An empty list gives
    // back what the rows held.
    void setRecords(const QList<tagFileList>& records);
    // Shares these records again when they are the ones the rows were filled
    // from, in the same order (the list changed a header and so made its own
    // copy of them): false, and nothing changes, when they are not.
    bool shareRecords(const QList<tagFileList>& records);
    void appendRecord(const tagFileList& record);
    void clear();
    void removeRecordRow(int row);
    // The row shows the record in place of its old one (a renamed file).
    void replaceRecordRow(int row, const tagFileList& record);

    // Sorts by the key's column, or by the name when that column is hidden.
    void sortByKey(int key, bool descending);

    const tagFileList& recordAt(int row) const { return stored(m_order[size_t(row)]); }
    QString cellText(int row, int column) const;

    // The row whose recording is loaded in the control panel (-1: none).
    void setMarkedRow(int row);
    int markedRow() const { return m_markedRow; }
    void setMarkerIcon(const QIcon& icon) { m_marker = icon; }

    // After the control panel changed a header: the record's header and the
    // row's protect, index, played and memo cells (their shorter texts), and
    // its transferred cell. Nothing when the row does not show the file of path.
    bool RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header);

    // Rows are dragged onto the folder tree, as the file names of their rows
    // (one a line, UTF-8) under this type.
    static QString recordingsMimeType() { return QStringLiteral("application/x-talven77-recordings"); }
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Changed
    {
        tagFileList record;
        bool shortTexts = false; // the panel changed the header: the shorter texts
    };
    struct SortRanks
    {
        bool valid = false;
        int distinct = 0;
        std::vector<int> ranks; // by place in the store
    };

    int storeSize() const { return int(m_records.size() + qsizetype(m_appended.size())); }
    const tagFileList& stored(int place) const;
    QString storedText(int place, int key) const;
    void changeStored(int place, const tagFileList& record, bool shortTexts);
    // Each stored row's place among the column's distinct sort keys, worked out
    // once after the rows changed and kept for every later sort by that key.
    const SortRanks& sortRanks(int key);
    std::vector<int> textGroups(int key, std::vector<QString>& texts) const;
    std::vector<long long> localTimeKeys() const;
    void forgetSortKeys();

    // The rows stay where they were made; sorting and removing change only
    // the order in which they are shown (a removed row's place is left empty
    // until the next fill). Places count the shared records, then the appended ones.
    QList<tagFileList> m_records;
    std::vector<tagFileList> m_appended;
    std::unordered_map<int, Changed> m_changed; // by place: rows changed since the fill
    std::vector<int> m_order;
    std::array<SortRanks, kColumnKeys> m_ranks;
    QList<int> m_keys;
    int m_markedRow = -1;
    QIcon m_marker;
};
