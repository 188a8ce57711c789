#include "JsonLines.h"

#include "Inspection.h"
#include "recording/FileListRecord.h"

#include <QDateTime>
#include <QJsonDocument>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>

void PrintJsonLine(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

void PrintJsonLine(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
}

void JsonLineWriter::name(const char* name)
{
    if (m_line.size() > 1)
        m_line.append(',');
    m_line.append('"').append(name).append("\":");
}

// Escapes as QJsonDocument does: quote, backslash and control characters escaped
// (\b \f \n \r \t, else \u00xx), everything else in UTF-8; a lone surrogate as \uxxxx.
void JsonLineWriter::string(const QString& text)
{
    static const char kHex[] = "0123456789abcdef";
    m_line.append('"');
    // Most texts need no escape: they go over whole.
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c == u'"' || c == u'\\' || c.isSurrogate();
    });
    if (plain) {
        m_line.append(text.toUtf8());
        m_line.append('"');
        return;
    }
    const char16_t* src = reinterpret_cast<const char16_t*>(text.constData());
    const char16_t* const end = src + text.size();
    while (src != end) {
        const char16_t u = *src++;
        if (u < 0x80) {
            if (u >= 0x20 && u != u'"' && u != u'\\') {
                m_line.append(char(u));
                continue;
            }
            m_line.append('\\');
            switch (u) {
            case u'"': m_line.append('"'); break;
            case u'\\': m_line.append('\\'); break;
            case 0x8: m_line.append('b'); break;
            case 0xc: m_line.append('f'); break;
            case 0xa: m_line.append('n'); break;
            case 0xd: m_line.append('r'); break;
            case 0x9: m_line.append('t'); break;
            default:
                m_line.append("u00").append(kHex[u >> 4]).append(kHex[u & 0xf]);
            }
            continue;
        }
        uint32_t code = u;
        if (QChar::isHighSurrogate(u) && src != end && QChar::isLowSurrogate(*src)) {
            code = QChar::surrogateToUcs4(u, *src++);
        } else if (QChar::isSurrogate(u)) {
            m_line.append("\\u").append(kHex[u >> 12]).append(kHex[(u >> 8) & 0xf]).append(kHex[(u >> 4) & 0xf])
                .append(kHex[u & 0xf]);
            continue;
        }
        if (code < 0x800) {
            m_line.append(char(0xC0 | code >> 6));
        } else if (code < 0x10000) {
            m_line.append(char(0xE0 | code >> 12));
            m_line.append(char(0x80 | ((code >> 6) & 0x3F)));
        } else {
            m_line.append(char(0xF0 | code >> 18));
            m_line.append(char(0x80 | ((code >> 12) & 0x3F)));
            m_line.append(char(0x80 | ((code >> 6) & 0x3F)));
        }
        m_line.append(char(0x80 | (code & 0x3F)));
    }
    m_line.append('"');
}

void JsonLineWriter::field(const char* key, const QString& text)
{
    name(key);
    string(text);
}

void JsonLineWriter::number(qint64 value)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    m_line.append(text, end - text);
}

void JsonLineWriter::field(const char* key, qint64 value)
{
    name(key);
    number(value);
}

void JsonLineWriter::field(const char* key, bool value)
{
    name(key);
    m_line.append(value ? "true" : "false");
}

void JsonLineWriter::nullField(const char* key)
{
    name(key);
    m_line.append("null");
}

void JsonLineWriter::field(const char* key, const QList<std::optional<qint64>>& numbers)
{
    name(key);
    m_line.append('[');
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        if (i)
            m_line.append(',');
        if (numbers[i])
            number(*numbers[i]);
        else
            m_line.append("null");
    }
    m_line.append(']');
}

QByteArray JsonLineWriter::finish()
{
    m_line.append('}');
    return std::move(m_line);
}

void PrintError(const QString& text)
{
    std::fprintf(stderr, "talven77-tool: %s\n", qPrintable(text));
}

QByteArray RecordJsonLine(const tagFileList& record)
{
    return RecordingLine(record.szFilePath, record.header, record.nDuration, record.nFileSize, record.tmCreate);
}

namespace {

// The local time of seconds by the C library, which reads the time zone once per
// process (Qt's local time looks at /etc/localtime again for every conversion).
// False where Qt's own text is wanted: years outside 1 to 9999, offsets that are
// not whole minutes.
bool localTime(int64_t seconds, struct tm& local)
{
    const time_t time = time_t(seconds);
    return localtime_r(&time, &local) && local.tm_year >= 1 - 1900 && local.tm_year <= 9999 - 1900
        && local.tm_gmtoff % 60 == 0;
}

} // namespace

QString IsoLocalTime(int64_t seconds)
{
    struct tm local {};
    if (!localTime(seconds, local)) {
        const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds);
        return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODate);
    }
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900,
                               local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const long offset = local.tm_gmtoff / 60;
    if (offset == 0)
        length += std::snprintf(text + length, sizeof text - size_t(length), "Z");
    else
        length += std::snprintf(text + length, sizeof text - size_t(length), "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                                std::labs(offset) / 60, std::labs(offset) % 60);
    return QString::fromLatin1(text, length);
}

QString IsoLocalDate(int64_t seconds)
{
    struct tm local {};
    if (!localTime(seconds, local))
        return QDateTime::fromSecsSinceEpoch(seconds).date().toString(Qt::ISODate);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                                     local.tm_mday);
    return QString::fromLatin1(text, length);
}

QString PrintablePath(const QByteArray& nativePath)
{
    QString text;
    qsizetype i = 0;
    while (i < nativePath.size()) {
        const uchar lead = uchar(nativePath[i]);
        const qsizetype length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        const QByteArray sequence = nativePath.mid(i, length);
        const QString decoded = QString::fromUtf8(sequence);
        if (length > 0 && sequence.size() == length && decoded.toUtf8() == sequence) {
            text += decoded;
            i += length;
        } else {
            text += QString::asprintf("\\x%02X", unsigned(lead));
            ++i;
        }
    }
    return text;
}

bool ReportUndecodableNames(const QList<QByteArray>& nativePaths)
{
    for (const QByteArray& path : nativePaths)
        PrintError(QStringLiteral("%1: left out: the name is not valid in the file-name encoding (UTF-8)")
                       .arg(PrintablePath(path)));
    return nativePaths.isEmpty();
}
