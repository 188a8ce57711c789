#include "Cp932.h"

#include <cerrno>
#include <iconv.h>

namespace {

class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as far as possible. Returns the number of input bytes consumed;
    // errnoOut is 0 when everything was converted.
    size_t convert(const QByteArray& in, size_t from, QByteArray& out, int& errnoOut)
    {
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
    Converter converter("UTF-8", "CP932");
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

Cp932Encoding UnicodeToCp932(const QString& text, int byteLimit)
{
    Cp932Encoding result;
    result.byteLimit = byteLimit;
    Converter converter("CP932", "UTF-8");
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    int error = 0;
    const size_t consumed = converter.valid() ? converter.convert(utf8, 0, out, error) : 0;
    if (!converter.valid() || error != 0) {
        result.error = Cp932Encoding::Error::Unrepresentable;
        // The character that starts at the first byte that was not converted.
        const QString rest = QString::fromUtf8(utf8.mid(qsizetype(consumed)));
        if (!rest.isEmpty())
            result.offending = rest.at(0).isHighSurrogate() && rest.size() > 1 ? rest.left(2)
                                                                               : rest.left(1);
        return result;
    }
    if (byteLimit >= 0 && out.size() > byteLimit) {
        result.error = Cp932Encoding::Error::TooLong;
        return result;
    }
    result.bytes = out;
    return result;
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
