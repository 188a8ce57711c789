#include "RecordingColumns.h"

#include "platform/Cp932.h"
#include "platform/LocalTime.h"

#include <numeric>

#include <algorithm>

namespace {

QString modeText(uint8_t mode)
{
    switch (mode) {
    case 0:
        return QStringLiteral(" 長時間 ");
    case 1:
        return QStringLiteral(" 標　準 ");
    case 2:
        return QStringLiteral(" 高音質 ");
    default:
        return QStringLiteral(" －－－ ");
    }
}

// The sort ignores the single-byte white space around a text, as the code
// page's texts were trimmed; an ideographic space (two bytes there) stays.
QStringView trimmedForSort(QStringView text)
{
    const auto blank = [](QChar c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (!text.isEmpty() && blank(text.front()))
        text = text.mid(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    return text;
}

bool isAscii(QStringView text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// CP932 holds ASCII as it is: most names, times and durations need no converter.
TextSortKey asciiSortKey(QStringView trimmed)
{
    return {trimmed.toLatin1(), {}, true};
}

TextSortKey convertedSortKey(const QString& trimmed, Cp932Encoder& encoder)
{
    Cp932Encoding encoded = encoder.encode(trimmed);
    if (!encoded.ok())
        return {{}, trimmed, false};
    return {std::move(encoded.bytes), {}, true};
}

} // namespace

QString ColumnHeaderText(int key)
{
    static const QString headers[kColumnKeys] = {
        QStringLiteral("名　　前"), QStringLiteral("録音開始時間"), QStringLiteral("録音時間"), QStringLiteral("ｻｲｽﾞ"),
        QStringLiteral("ﾓｰﾄﾞ"),     QStringLiteral("保護"),         QStringLiteral("ｲﾝﾃﾞｯｸｽ"), QStringLiteral("再生済"),
        QStringLiteral("転送済"),   QStringLiteral("ﾒﾓ")};
    return key >= 0 && key < kColumnKeys ? headers[key] : QString();
}

Qt::Alignment ColumnAlignment(int key)
{
    switch (key) {
    case kKeyDuration:
    case kKeySize:
        return Qt::AlignRight;
    case kKeyName:
    case kKeyStart:
    case kKeyMemo:
        return Qt::AlignLeft;
    default:
        return Qt::AlignHCenter;
    }
}

QString RecordRowText(const tagFileList& record, int key)
{
    const tagVoiceHeader& header = record.header;
    switch (key) {
    case kKeyName:
        return record.szFileName;
    case kKeyStart:
        return FormatLocalTime(record.tmCreate, "%Y/%m/%d %H:%M:%S");
    case kKeyDuration:
        return QString::asprintf("%8d:%02d", int(record.nDuration / 60), int(record.nDuration % 60));
    case kKeySize:
        return QString::asprintf("%6.1lf KB", double(record.nFileSize) / 1024.0);
    case kKeyMode:
        return modeText(header.mode);
    case kKeyProtect:
        return header.protectFlag ? QStringLiteral("  ○  ") : QString(6, u' ');
    case kKeyIndex: {
        const int marks = CountIndexMarks(header);
        return marks > 0 ? QString::asprintf("     %d     ", marks) : QString(11, u' ');
    }
    case kKeyPlayed:
        return header.playedFlag ? QStringLiteral("    済    ") : QString(10, u' ');
    case kKeyTransferred:
        return header.transferredFlag ? QStringLiteral("    済    ") : QString(10, u' ');
    case kKeyMemo:
        return VoiceMemoText(header);
    default:
        return {};
    }
}

RowTexts RecordRowTexts(const tagFileList& record)
{
    RowTexts texts;
    for (int key = 0; key < kColumnKeys; ++key)
        texts[size_t(key)] = RecordRowText(record, key);
    return texts;
}

QString EditedRowText(const tagVoiceHeader& header, int key)
{
    switch (key) {
    case kKeyProtect:
        return header.protectFlag ? QStringLiteral("○") : QString();
    case kKeyIndex: {
        const int marks = CountIndexMarks(header);
        return marks > 0 ? QString::number(marks) : QString();
    }
    case kKeyPlayed:
        return header.playedFlag ? QStringLiteral("済") : QString();
    case kKeyMemo:
        return VoiceMemoText(header);
    default:
        return {};
    }
}

int CompareRowTexts(int key, const QString& a, const QString& b)
{
    if (IsNumericSortKey(key)) {
        const long long difference = NumericSortValue(a) - NumericSortValue(b);
        return difference < 0 ? -1 : difference > 0 ? 1 : 0;
    }
    return CompareTextSortKeys(MakeTextSortKey(a), MakeTextSortKey(b));
}

TextSortKey MakeTextSortKey(const QString& text)
{
    const QStringView trimmed = trimmedForSort(text);
    if (isAscii(trimmed))
        return asciiSortKey(trimmed);
    Cp932Encoder encoder;
    return convertedSortKey(trimmed.toString(), encoder);
}

std::vector<TextSortKey> MakeTextSortKeys(const std::vector<QString>& texts)
{
    // Modes and marks repeat from row to row, as memos often do; comparing a
    // text with the last few converted ones costs far less than the converter
    // (or a hash of the text).
    struct Converted
    {
        QString text;
        TextSortKey key;
    };
    constexpr size_t kRecent = 8;
    std::vector<Converted> recent;
    size_t oldest = 0;
    std::vector<TextSortKey> keys;
    keys.reserve(texts.size());
    Cp932Encoder encoder;
    for (const QString& text : texts) {
        const QStringView trimmed = trimmedForSort(text);
        if (isAscii(trimmed)) {
            keys.push_back(asciiSortKey(trimmed));
            continue;
        }
        const auto known = std::find_if(recent.cbegin(), recent.cend(),
                                        [&](const Converted& c) { return c.text == text; });
        if (known != recent.cend()) {
            keys.push_back(known->key);
            continue;
        }
        Converted converted{text, convertedSortKey(trimmed.toString(), encoder)};
        keys.push_back(converted.key);
        if (recent.size() < kRecent) {
            recent.push_back(std::move(converted));
        } else {
            recent[oldest] = std::move(converted);
            oldest = (oldest + 1) % kRecent;
        }
    }
    return keys;
}

int CompareTextSortKeys(const TextSortKey& a, const TextSortKey& b)
{
    if (a.held != b.held)
        return a.held ? -1 : 1;
    if (!a.held)
        return a.text.compare(b.text);
    // Keys of a repeated text share their bytes (modes, marks, common memos).
    if (a.bytes.constData() == b.bytes.constData() && a.bytes.size() == b.bytes.size())
        return 0;
    // QByteArray compares as unsigned bytes, then by length.
    return a.bytes.compare(b.bytes);
}

std::vector<int> RankTextSortKeys(const std::vector<TextSortKey>& keys, int* count)
{
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return CompareTextSortKeys(keys[size_t(a)], keys[size_t(b)]) < 0; });
    std::vector<int> ranks(keys.size());
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        if (i > 0 && CompareTextSortKeys(keys[size_t(order[i - 1])], keys[size_t(order[i])]) != 0)
            ++rank;
        ranks[size_t(order[i])] = rank;
    }
    if (count)
        *count = keys.empty() ? 0 : rank + 1;
    return ranks;
}

long long NumericSortValue(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype end = 0;
    while (end < trimmed.size() && (trimmed[end].isDigit() || trimmed[end] == u'.'))
        ++end;
    return static_cast<long long>(trimmed.left(end).toDouble() * 10.0);
}
