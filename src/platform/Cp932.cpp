#include "Cp932.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace {

class IconvConverter
{
public:
    IconvConverter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~IconvConverter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as far as possible, from the converter's initial state. Returns
    // the number of input bytes consumed; errnoOut is 0 when everything was converted.
    size_t convert(const QByteArray& in, size_t from, QByteArray& out, int& errnoOut)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* inPtr = const_cast<char*>(in.constData()) + from;
        size_t inLeft = size_t(in.size()) - from;
        char buffer[1024];
        errnoOut = 0;
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, int(outPtr - buffer));
            if (rc == size_t(-1) && errno != E2BIG) {
                errnoOut = errno;
                break;
            }
        }
        return size_t(in.size()) - from - inLeft;
    }

private:
    iconv_t m_cd;
};

} // namespace

QString Cp932ToUnicode(const QByteArray& bytes)
{
    IconvConverter converter("UTF-8", "CP932");
    if (!converter.valid())
        return QString::fromLatin1(bytes);
    QByteArray utf8;
    size_t pos = 0;
    while (pos < size_t(bytes.size())) {
        int error = 0;
        pos += converter.convert(bytes, pos, utf8, error);
        if (error == 0)
            break;
        // An invalid or truncated sequence: show a replacement and go on after it.
        utf8.append("\xEF\xBF\xBD");
        ++pos;
    }
    return QString::fromUtf8(utf8);
}

namespace {

// The character (one code point: one or two UTF-16 units) that starts at the
// given UTF-8 byte offset of the text, or the first lone surrogate before it.
// Counting in the text itself keeps the answer right where a round trip through
// UTF-8 would not: a U+FEFF at the start of decoded bytes is taken for a
// byte-order mark and dropped, and a lone surrogate has no UTF-8 form.
QString characterAtUtf8Offset(const QString& text, size_t utf8Offset)
{
    size_t bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        const bool pair = QChar::isHighSurrogate(unit) && i + 1 < text.size()
                          && text.at(i + 1).isLowSurrogate();
        if (QChar::isSurrogate(unit) && !pair)
            return text.mid(i, 1);
        if (bytes >= utf8Offset)
            return text.mid(i, pair ? 2 : 1);
        bytes += pair ? 4 : unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
        if (pair)
            ++i;
    }
    return {};
}

bool hasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text.at(i).isSurrogate())
            continue;
        if (!text.at(i).isHighSurrogate() || i + 1 >= text.size()
            || !text.at(i + 1).isLowSurrogate())
            return true;
        ++i;
    }
    return false;
}

} // namespace

struct Cp932Encoder::Converter : IconvConverter
{
    Converter() : IconvConverter("CP932", "UTF-8") {}
};

Cp932Encoder::Cp932Encoder() : m_converter(std::make_unique<Converter>()) {}

Cp932Encoder::~Cp932Encoder() = default;

Cp932Encoding Cp932Encoder::encode(const QString& text, int byteLimit)
{
    Cp932Encoding result;
    result.byteLimit = byteLimit;
    QByteArray out;
    size_t consumed = 0;
    int error = 0;
    // A lone surrogate would reach iconv as a replacement byte and come out as
    // "?", garbling the text instead of refusing it.
    if (hasLoneSurrogate(text)) {
        consumed = SIZE_MAX;
        error = EILSEQ;
    } else if (m_converter->valid()) {
        consumed = m_converter->convert(text.toUtf8(), 0, out, error);
    } else {
        error = EILSEQ;
    }
    if (error != 0) {
        result.error = Cp932Encoding::Error::Unrepresentable;
        result.offending = characterAtUtf8Offset(text, consumed);
        return result;
    }
    if (byteLimit >= 0 && out.size() > byteLimit) {
        result.error = Cp932Encoding::Error::TooLong;
        return result;
    }
    result.bytes = out;
    return result;
}

Cp932Encoding UnicodeToCp932(const QString& text, int byteLimit)
{
    return Cp932Encoder().encode(text, byteLimit);
}

QString Cp932Encoding::message() const
{
    switch (error) {
    case Error::None:
        return {};
    case Error::Unrepresentable:
        return QStringLiteral("「%1」は使用できない文字です。別の文字に置き換えてください。").arg(offending);
    case Error::TooLong:
        return QStringLiteral("文字数が多すぎます。半角%1文字（全角%2文字）以内で入力してください。")
            .arg(byteLimit)
            .arg(byteLimit / 2);
    }
    return {};
}
