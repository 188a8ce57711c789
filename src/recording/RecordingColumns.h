#pragma once

#include "recording/FileListRecord.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <vector>

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
// truncated) for size and index, the text sort keys below for every other key;
// surrounding white space is ignored. Negative when a comes first.
int CompareRowTexts(int key, const QString& a, const QString& b);
inline bool IsNumericSortKey(int key)
{
    return key == kKeySize || key == kKeyIndex;
}

// Texts sort by their bytes in the code page: the CP932 bytes of the trimmed
// text compared as unsigned bytes, the shorter text first when one is the
// start of the other. So half-width katakana (A1–DF) sort between the
// double-byte characters led by 81–9F and those led by E0–FC, and
// " 高音質 " < " 長時間 " < " 標　準 ". A text that CP932 cannot hold (an emoji
// in a file name, say) sorts after every text it can hold, and such texts
// sort among themselves by their UTF-16 code units.
struct TextSortKey
{
    QByteArray bytes; // the CP932 bytes; empty when CP932 cannot hold the text
    QString text;     // the trimmed text, kept only when CP932 cannot hold it
    bool held = true;
};
// Converting costs time: make a text's key once, not once per comparison.
TextSortKey MakeTextSortKey(const QString& text);
// The keys of many texts, in their order; a text that repeats is converted once.
std::vector<TextSortKey> MakeTextSortKeys(const std::vector<QString>& texts);
int CompareTextSortKeys(const TextSortKey& a, const TextSortKey& b);
// Each key's place among the distinct keys in that order: keys that compare
// equal share a rank. Ranks run from 0 to count - 1, so rows can then be put in
// order by rank in one pass that keeps equal rows as they were.
std::vector<int> RankTextSortKeys(const std::vector<TextSortKey>& keys, int* count = nullptr);
// The numeric value sizes and index counts sort by: the leading decimal number × 10, truncated.
long long NumericSortValue(const QString& text);
