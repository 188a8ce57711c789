#pragma once

#include "recording/FileListRecord.h"

#include <QString>
#include <array>

// The ten columns of the recording list, by key: 0 name, 1 start time,
// 2 duration, 3 size, 4 mode, 5 protect, 6 index, 7 played, 8 transferred, 9 memo.
inline constexpr int kColumnKeys = 10;
enum ColumnKey {
    kKeyName = 0,
    kKeyStart,
    kKeyDuration,
    kKeySize,
    kKeyMode,
    kKeyProtect,
    kKeyIndex,
    kKeyPlayed,
    kKeyTransferred,
    kKeyMemo,
};

QString ColumnHeaderText(int key);
// Qt::AlignLeft, AlignRight or AlignHCenter.
Qt::Alignment ColumnAlignment(int key);

// The texts a new row shows, padded as the list always showed them.
using RowTexts = std::array<QString, kColumnKeys>;
RowTexts RecordRowTexts(const tagFileList& record);
QString RecordRowText(const tagFileList& record, int key);
// The shorter texts a row shows after the control panel changed its header
// (protect, index, played, memo; empty for other keys).
QString EditedRowText(const tagVoiceHeader& header, int key);

// The sort order of two texts of a column: numeric (read as a decimal, × 10,
// truncated) for size and index, exact text comparison for every other key;
// surrounding white space is ignored. Negative when a comes first.
int CompareRowTexts(int key, const QString& a, const QString& b);
// The numeric value sizes and index counts sort by: the leading decimal number × 10, truncated.
long long NumericSortValue(const QString& text);
