#include "MemoText.h"

#include "platform/Cp932.h"
#include "recording/VoiceHeader.h"

#include <cstring>

namespace {

bool isAsciiSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

} // namespace

QString TrimmedMemo(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isAsciiSpace(text.at(begin)))
        ++begin;
    while (end > begin && isAsciiSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString MemoOfHeader(const tagVoiceHeader& header)
{
    const char* memo = header.memo;
    const size_t length = strnlen(memo, kMemoBytes);
    // Bytes that are no CP932 text (a character cut at the 256th byte) cannot
    // be written back; the memo shows without them.
    QString text = Cp932ToUnicode(QByteArray(memo, qsizetype(length)));
    text.remove(QChar::ReplacementCharacter);
    // The memo box breaks lines with LF alone.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return TrimmedMemo(text);
}

QString StoredMemo(const QString& text)
{
    QString stored = text;
    stored.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return stored;
}

int MemoBytes(const QString& text)
{
    const Cp932Encoding encoded = UnicodeToCp932(StoredMemo(text));
    return encoded.ok() ? int(encoded.bytes.size()) : -1;
}
