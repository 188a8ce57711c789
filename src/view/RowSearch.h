#pragma once

#include <QString>

class RecordingListModel;

// The text a row is searched by: its file name (target 0) or its memo cell
// (target 1; empty while the memo column is hidden).
QString RowSearchText(const RecordingListModel& model, int row, int target);

// The first matching row after (forward) or before the start row, without
// wrapping around; -1 when none. Exact: the whole text equals; otherwise it
// contains the search text. Case matters.
int FindMatchingRow(const RecordingListModel& model, int start, bool forward, const QString& text, int target,
                    bool exact);
