#include "RowSearch.h"

#include "RecordingListModel.h"

QString RowSearchText(const RecordingListModel& model, int row, int target)
{
    if (target == 0)
        return model.cellText(row, 0);
    const int column = model.columnOfKey(kKeyMemo);
    return column < 0 ? QString() : model.cellText(row, column);
}

int FindMatchingRow(const RecordingListModel& model, int start, bool forward, const QString& text, int target,
                    bool exact)
{
    const int step = forward ? 1 : -1;
    for (int row = start + step; row >= 0 && row < model.rowCount(); row += step) {
        const QString candidate = RowSearchText(model, row, target);
        if (exact ? candidate == text : candidate.contains(text, Qt::CaseSensitive))
            return row;
    }
    return -1;
}
