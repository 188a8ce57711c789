#include "PackedRecords.h"

#include <cstring>

namespace {

template <typename T> void put(QByteArray& out, T value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T> T take(const char*& in)
{
    T value;
    std::memcpy(&value, in, sizeof value);
    in += sizeof value;
    return value;
}

void putText(QByteArray& out, const QString& text)
{
    put<uint32_t>(out, uint32_t(text.size()));
    out.append(reinterpret_cast<const char*>(text.constData()), text.size() * qsizetype(sizeof(QChar)));
}

QString takeText(const char*& in)
{
    const auto size = qsizetype(take<uint32_t>(in));
    QString text(size, Qt::Uninitialized);
    std::memcpy(text.data(), in, size_t(size) * sizeof(QChar));
    in += size * qsizetype(sizeof(QChar));
    return text;
}

// The header's bytes XOR those of the record before (a recorder writes the same
// reserved bytes into each of its headers, and memos often begin alike), as
// runs: a count of zero bytes, a count of other bytes and those bytes.
void putHeader(QByteArray& out, const tagVoiceHeader& header, const tagVoiceHeader& previous)
{
    constexpr size_t size = sizeof header;
    unsigned char bytes[size];
    const auto* ours = reinterpret_cast<const unsigned char*>(&header);
    const auto* theirs = reinterpret_cast<const unsigned char*>(&previous);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = ours[i] ^ theirs[i];
    size_t at = 0;
    while (at < size) {
        size_t zeros = at;
        while (zeros < size && bytes[zeros] == 0)
            ++zeros;
        size_t others = zeros;
        // A lone zero between other bytes stays with them: a run costs four bytes.
        while (others < size && (bytes[others] != 0 || (others + 4 < size && bytes[others + 1] != 0)))
            ++others;
        put<uint16_t>(out, uint16_t(zeros - at));
        put<uint16_t>(out, uint16_t(others - zeros));
        out.append(reinterpret_cast<const char*>(bytes + zeros), qsizetype(others - zeros));
        at = others;
    }
}

void takeHeader(const char*& in, tagVoiceHeader& header, const tagVoiceHeader& previous)
{
    auto* bytes = reinterpret_cast<unsigned char*>(&header);
    const auto* theirs = reinterpret_cast<const unsigned char*>(&previous);
    size_t at = 0;
    while (at < sizeof header) {
        const size_t zeros = take<uint16_t>(in);
        const size_t others = take<uint16_t>(in);
        std::memset(bytes + at, 0, zeros);
        std::memcpy(bytes + at + zeros, in, others);
        in += others;
        at += zeros + others;
    }
    for (size_t i = 0; i < sizeof header; ++i)
        bytes[i] ^= theirs[i];
}

} // namespace

PackedRecords::PackedRecords(const QList<tagFileList>& records, const QString& folder)
    : m_folder(folder), m_count(int(records.size()))
{
    m_bytes.reserve(records.size() * 64);
    const tagVoiceHeader none{};
    const tagVoiceHeader* previous = &none;
    for (const tagFileList& record : records) {
        putText(m_bytes, record.szFileName);
        const bool inFolder = record.szFilePath.size() == folder.size() + record.szFileName.size()
                              && record.szFilePath.startsWith(folder) && record.szFilePath.endsWith(record.szFileName);
        put<uint8_t>(m_bytes, inFolder ? 1 : 0);
        if (!inFolder)
            putText(m_bytes, record.szFilePath);
        put<int64_t>(m_bytes, record.tmCreate);
        put<uint32_t>(m_bytes, record.nDuration);
        put<uint32_t>(m_bytes, record.nFileSize);
        putHeader(m_bytes, record.header, *previous);
        previous = &record.header;
    }
    m_bytes.squeeze();
}

QList<tagFileList> PackedRecords::unpack() const
{
    QList<tagFileList> records;
    records.reserve(m_count);
    const char* in = m_bytes.constData();
    const tagVoiceHeader none{};
    for (int i = 0; i < m_count; ++i) {
        const tagVoiceHeader previous = i == 0 ? none : records.at(i - 1).header;
        tagFileList& record = records.emplace_back();
        record.szFileName = takeText(in);
        record.szFilePath = take<uint8_t>(in) ? m_folder + record.szFileName : takeText(in);
        record.tmCreate = take<int64_t>(in);
        record.nDuration = take<uint32_t>(in);
        record.nFileSize = take<uint32_t>(in);
        takeHeader(in, record.header, previous);
    }
    return records;
}
