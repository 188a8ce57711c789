#include "RecordingListModel.h"

#include <QByteArray>
#include <QHash>
#include <QMimeData>
#include <ctime>
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
    m_records = records;
    // Assigned afresh rather than cleared, so that an emptied list gives its memory back.
    m_appended = {};
    m_changed = {};
    m_order = std::vector<int>(size_t(records.size()));
    std::iota(m_order.begin(), m_order.end(), 0);
    forgetSortKeys();
    m_markedRow = -1;
    endResetModel();
}

bool RecordingListModel::shareRecords(const QList<tagFileList>& records)
{
    if (records.constData() == m_records.constData())
        return true;
    if (records.size() != m_records.size())
        return false;
    // A copy of the same records shares each path's text with them.
    for (qsizetype i = 0; i < records.size(); ++i) {
        if (records[i].szFilePath.constData() != m_records.at(i).szFilePath.constData())
            return false;
    }
    m_records = records;
    return true;
}

void RecordingListModel::appendRecord(const tagFileList& record)
{
    const int row = rowCount();
    beginInsertRows({}, row, row);
    m_appended.push_back(record);
    m_order.push_back(storeSize() - 1);
    forgetSortKeys();
    endInsertRows();
}

void RecordingListModel::replaceRecordRow(int row, const tagFileList& record)
{
    if (row < 0 || row >= rowCount())
        return;
    changeStored(m_order[size_t(row)], record, false);
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

const tagFileList& RecordingListModel::stored(int place) const
{
    if (!m_changed.empty()) {
        const auto changed = m_changed.find(place);
        if (changed != m_changed.end())
            return changed->second.record;
    }
    return place < m_records.size() ? m_records[place] : m_appended[size_t(place - m_records.size())];
}

QString RecordingListModel::storedText(int place, int key) const
{
    if (!m_changed.empty()) {
        const auto changed = m_changed.find(place);
        if (changed != m_changed.end() && changed->second.shortTexts
            && (key == kKeyProtect || key == kKeyIndex || key == kKeyPlayed || key == kKeyMemo))
            return EditedRowText(changed->second.record.header, key);
    }
    return RecordRowText(stored(place), key);
}

void RecordingListModel::changeStored(int place, const tagFileList& record, bool shortTexts)
{
    // The shared records stay as they are: a change is kept beside them.
    m_changed[place] = {record, shortTexts};
    forgetSortKeys();
}

std::vector<long long> RecordingListModel::localTimeKeys() const
{
    // "%Y/%m/%d %H:%M:%S" sorts as its fields in that order, written as one number,
    // while the year has four digits; a time that cannot be converted shows no text
    // and comes first. Any other year: empty, and the texts themselves are compared.
    const int count = storeSize();
    std::vector<long long> keys(static_cast<size_t>(count));
    for (int place = 0; place < count; ++place) {
        const time_t seconds = time_t(stored(place).tmCreate);
        struct tm local {};
        if (!localtime_r(&seconds, &local)) {
            keys[size_t(place)] = -1;
            continue;
        }
        const long long year = local.tm_year + 1900LL;
        if (year < 1000 || year > 9999)
            return {};
        keys[size_t(place)] = ((((year * 100 + local.tm_mon + 1) * 100 + local.tm_mday) * 100 + local.tm_hour) * 100
                               + local.tm_min) * 100 + local.tm_sec;
    }
    return keys;
}

void RecordingListModel::forgetSortKeys()
{
    m_ranks = {};
}

std::vector<int> RecordingListModel::textGroups(int key, std::vector<QString>& texts) const
{
    const int count = storeSize();
    std::vector<int> groups(static_cast<size_t>(count));
    if (key == kKeyMemo) {
        // A memo's text follows from its bytes: rows with the same bytes share one
        // text, converted once, and the bytes are read where they lie.
        QHash<QByteArray, int> known;
        for (int place = 0; place < count; ++place) {
            const char* memo = stored(place).header.memo;
            const QByteArray bytes = QByteArray::fromRawData(memo, qsizetype(qstrnlen(memo, kMemoBytes)));
            auto found = known.constFind(bytes);
            if (found == known.cend()) {
                found = known.insert(bytes, int(texts.size()));
                texts.push_back(storedText(place, key));
            }
            groups[size_t(place)] = *found;
        }
        return groups;
    }
    if (key == kKeyDuration) {
        // The text follows from the seconds: each length is written out once.
        QHash<uint32_t, int> known;
        for (int place = 0; place < count; ++place) {
            auto found = known.constFind(stored(place).nDuration);
            if (found == known.cend()) {
                found = known.insert(stored(place).nDuration, int(texts.size()));
                texts.push_back(storedText(place, key));
            }
            groups[size_t(place)] = *found;
        }
        return groups;
    }
    QHash<QString, int> known;
    for (int place = 0; place < count; ++place) {
        const QString text = storedText(place, key);
        auto found = known.constFind(text);
        if (found == known.cend()) {
            found = known.insert(text, int(texts.size()));
            texts.push_back(text);
        }
        groups[size_t(place)] = *found;
    }
    return groups;
}

const RecordingListModel::SortRanks& RecordingListModel::sortRanks(int key)
{
    SortRanks& cached = m_ranks[size_t(key)];
    if (cached.valid)
        return cached;
    const size_t count = size_t(storeSize());
    cached.ranks.resize(count);
    std::vector<long long> numbers;
    if (IsNumericSortKey(key)) {
        numbers.resize(count);
        for (size_t place = 0; place < count; ++place)
            numbers[place] = NumericSortValue(storedText(int(place), key));
    } else if (key == kKeyStart) {
        numbers = localTimeKeys();
    }
    if (!numbers.empty()) {
        std::vector<long long> distinct = numbers;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        for (size_t place = 0; place < count; ++place)
            cached.ranks[place] =
                int(std::lower_bound(distinct.begin(), distinct.end(), numbers[place]) - distinct.begin());
        cached.distinct = int(distinct.size());
    } else {
        std::vector<QString> texts;
        const std::vector<int> groups = textGroups(key, texts);
        const std::vector<int> groupRanks = RankTextSortKeys(MakeTextSortKeys(texts), &cached.distinct);
        for (size_t place = 0; place < count; ++place)
            cached.ranks[place] = groupRanks[size_t(groups[place])];
    }
    cached.valid = true;
    return cached;
}

void RecordingListModel::sortByKey(int key, bool descending)
{
    if (columnOfKey(key) < 0)
        key = kKeyName;
    const SortRanks& keys = sortRanks(key);
    const int distinct = keys.distinct;
    const auto bucket = [&](size_t row) {
        const int rank = keys.ranks[size_t(m_order[row])];
        return size_t(descending ? distinct - 1 - rank : rank);
    };
    // A counting sort by rank keeps rows of equal keys in their order, in both directions.
    const size_t count = m_order.size();
    std::vector<size_t> order(count);
    std::vector<size_t> start(size_t(distinct) + 1, 0);
    for (size_t row = 0; row < count; ++row)
        ++start[bucket(row) + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    for (size_t row = 0; row < count; ++row)
        order[start[bucket(row)]++] = row;

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
    return storedText(m_order[size_t(row)], m_keys[column]);
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
    if (row < 0 || row >= rowCount() || recordAt(row).szFilePath != path)
        return false;
    // The row shows the shorter texts of protect, index, played and memo from now on;
    // its transferred cell as a new row would show it.
    tagFileList record = recordAt(row);
    record.header = header;
    changeStored(m_order[size_t(row)], record, true);
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
