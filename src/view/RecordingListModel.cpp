#include "RecordingListModel.h"

#include <QFileInfo>
#include <QMimeData>
#include <algorithm>
#include <numeric>
#include <set>

RecordingListModel::RecordingListModel(QObject* parent) : QAbstractTableModel(parent)
{
    for (int key = 0; key < kColumnKeys; ++key)
        m_keys.append(key);
}

void RecordingListModel::setShownKeys(QList<int> keys)
{
    beginResetModel();
    keys.removeAll(int(kKeyName));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    keys.prepend(kKeyName);
    m_keys = keys;
    endResetModel();
}

void RecordingListModel::setRecords(const QList<tagFileList>& records)
{
    beginResetModel();
    m_store.clear();
    m_store.reserve(size_t(records.size()));
    for (const tagFileList& record : records)
        m_store.push_back({record, RecordRowTexts(record)});
    m_order.resize(m_store.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    m_markedRow = -1;
    endResetModel();
}

void RecordingListModel::appendRecord(const tagFileList& record)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_store.push_back({record, RecordRowTexts(record)});
    m_order.push_back(int(m_store.size()) - 1);
    endInsertRows();
}

void RecordingListModel::replaceRecordRow(int row, const tagFileList& record)
{
    if (row < 0 || row >= rowCount())
        return;
    rowAt(row) = {record, RecordRowTexts(record)};
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1), {Qt::DisplayRole});
}

void RecordingListModel::clear()
{
    setRecords({});
}

void RecordingListModel::removeRecordRow(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    m_order.erase(m_order.begin() + row);
    if (m_markedRow == row)
        m_markedRow = -1;
    else if (m_markedRow > row)
        --m_markedRow;
    endRemoveRows();
}

void RecordingListModel::sortByKey(int key, bool descending)
{
    if (columnOfKey(key) < 0)
        key = kKeyName;
    // Sort keys are worked out once per row, not once per comparison.
    const size_t count = m_order.size();
    std::vector<size_t> order(count);
    if (IsNumericSortKey(key)) {
        std::vector<long long> numbers(count);
        for (size_t i = 0; i < count; ++i)
            numbers[i] = NumericSortValue(rowAt(int(i)).texts[size_t(key)]);
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return descending ? numbers[b] < numbers[a] : numbers[a] < numbers[b];
        });
    } else {
        std::vector<QString> texts(count);
        for (size_t i = 0; i < count; ++i)
            texts[i] = rowAt(int(i)).texts[size_t(key)];
        int distinct = 0;
        const std::vector<int> ranks = RankTextSortKeys(MakeTextSortKeys(texts), &distinct);
        // A counting sort by rank keeps rows of equal texts in their order, in both directions.
        std::vector<size_t> start(size_t(distinct) + 1, 0);
        for (const int rank : ranks)
            ++start[size_t(descending ? distinct - 1 - rank : rank) + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (size_t i = 0; i < ranks.size(); ++i)
            order[start[size_t(descending ? distinct - 1 - ranks[i] : ranks[i])]++] = i;
    }

    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(count);
    std::vector<int> sorted(count);
    for (size_t position = 0; position < count; ++position) {
        newRowOf[order[position]] = int(position);
        sorted[position] = m_order[order[position]];
    }
    m_order = std::move(sorted);
    if (m_markedRow >= 0)
        m_markedRow = newRowOf[size_t(m_markedRow)];
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(this->index(newRowOf[size_t(index.row())], index.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QString RecordingListModel::cellText(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return {};
    return rowAt(row).texts[size_t(m_keys[column])];
}

void RecordingListModel::setMarkedRow(int row)
{
    const int previous = m_markedRow;
    m_markedRow = row;
    for (const int changed : {previous, row}) {
        if (changed >= 0 && changed < rowCount())
            Q_EMIT dataChanged(index(changed, 0), index(changed, 0), {Qt::DecorationRole});
    }
}

bool RecordingListModel::RefreshRecordRow(const QString& path, int row, const tagVoiceHeader& header)
{
    // By path: a list of the recorder's folders may show one name twice.
    if (row < 0 || row >= rowCount() || rowAt(row).record.szFilePath != path)
        return false;
    Row& target = rowAt(row);
    target.record.header = header;
    for (const int key : {int(kKeyProtect), int(kKeyIndex), int(kKeyPlayed), int(kKeyMemo)})
        target.texts[size_t(key)] = EditedRowText(header, key);
    // A transfer marks the row as a new row would show it.
    target.texts[kKeyTransferred] = RecordRowText(target.record, kKeyTransferred);
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1), {Qt::DisplayRole});
    return true;
}

Qt::ItemFlags RecordingListModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled : flags;
}

QStringList RecordingListModel::mimeTypes() const
{
    return {recordingsMimeType()};
}

QMimeData* RecordingListModel::mimeData(const QModelIndexList& indexes) const
{
    // One line a row, in row order, whatever cells of it were given.
    std::set<int> rows;
    for (const QModelIndex& index : indexes) {
        if (index.isValid() && index.row() < rowCount())
            rows.insert(index.row());
    }
    if (rows.empty())
        return nullptr;
    QByteArray names;
    for (const int row : rows)
        names += recordAt(row).szFileName.toUtf8() + '\n';
    auto* data = new QMimeData;
    data->setData(recordingsMimeType(), names);
    return data;
}

int RecordingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_order.size());
}

int RecordingListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_keys.size());
}

QVariant RecordingListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return cellText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return int(ColumnAlignment(m_keys[index.column()]) | Qt::AlignVCenter);
    case Qt::DecorationRole:
        if (index.column() == 0 && index.row() == m_markedRow && !m_marker.isNull())
            return m_marker;
        return {};
    default:
        return {};
    }
}

QVariant RecordingListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return role == Qt::DisplayRole ? QVariant(QString::asprintf("%4d", section + 1)) : QVariant();
    if (section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return ColumnHeaderText(m_keys[section]);
    if (role == Qt::TextAlignmentRole)
        return int(ColumnAlignment(m_keys[section]) | Qt::AlignVCenter);
    return {};
}
