#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// Memo texts and recorder names are CP932 (Shift_JIS) bytes, as the recorder
// and the Windows world store them. Conversion goes through glibc iconv.

// Bytes to Unicode for display. A byte sequence that is not CP932 shows as
// U+FFFD; conversion never fails.
QString Cp932ToUnicode(const QByteArray& bytes);

struct Cp932Encoding
{
    enum class Error { None, Unrepresentable, TooLong };

    QByteArray bytes;        // the CP932 bytes; empty unless error is None
    Error error = Error::None;
    QString offending;       // the first character that CP932 cannot hold
    int byteLimit = 0;

    bool ok() const { return error == Error::None; }
    // A message for the user that says why the text was refused.
    QString message() const;
};

// Unicode to CP932 bytes. Text holding a character that CP932 cannot hold, or
// needing more than byteLimit bytes, is refused, never garbled or cut.
// A negative byteLimit means no limit.
Cp932Encoding UnicodeToCp932(const QString& text, int byteLimit = -1);

// Converts many texts with one converter, for work over whole lists (sorting
// thousands of rows): opening the converter costs more than a short text.
class Cp932Encoder
{
public:
    Cp932Encoder();
    ~Cp932Encoder();
    Cp932Encoder(const Cp932Encoder&) = delete;
    Cp932Encoder& operator=(const Cp932Encoder&) = delete;

    // As UnicodeToCp932.
    Cp932Encoding encode(const QString& text, int byteLimit = -1);

private:
    struct Converter;
    std::unique_ptr<Converter> m_converter;
};
