#include "RecordingBuilder.h"

#include "Mp3Encoder.h"
#include "platform/Cp932.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>

namespace {

void appendLittleEndian32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

} // namespace

tagVoiceHeader MakeVoiceHeader(uint8_t mode, const QString& memo, const QList<uint32_t>& marks)
{
    tagVoiceHeader header;
    std::memset(&header, 0, sizeof header);
    for (int i = 0; i < 16; ++i)
        header.reserved0[i] = uint8_t(0xA0 + i);
    header.reserved19 = 0x5A;
    for (int i = 0; i < 195; ++i)
        header.reserved41[i] = uint8_t(i * 7 + 3);
    header.mode = mode;
    for (int i = 0; i < kIndexMarkCount; ++i)
        header.indexMarks[i] = i < marks.size() ? marks[i] : kEmptyIndexMark;
    const QByteArray bytes = UnicodeToCp932(memo, kMemoBytes).bytes;
    std::memcpy(header.memo, bytes.constData(), size_t(bytes.size()));
    return header;
}

QByteArray BuildFrame(const RawFrame& frame)
{
    QByteArray out = frame.id.left(4);
    appendLittleEndian32(out, uint32_t(frame.body.size()));
    out.append(2, '\0');
    out.append(frame.body);
    return out;
}

QByteArray BuildVoiceTag(const tagVoiceHeader& header, const QList<RawFrame>& framesBefore,
                         int paddingBytes)
{
    QByteArray frames;
    for (const RawFrame& frame : framesBefore)
        frames.append(BuildFrame(frame));
    frames.append(BuildFrame({QByteArrayLiteral("XPCC"),
                              QByteArray(reinterpret_cast<const char*>(&header), sizeof header)}));
    frames.append(paddingBytes, '\0');
    QByteArray tag = QByteArrayLiteral("ID3\x03\x00\x00");
    const uint32_t size = uint32_t(frames.size());
    for (int shift = 21; shift >= 0; shift -= 7)
        tag.append(char((size >> shift) & 0x7F));
    return tag + frames;
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes, const QDateTime& time)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (file.write(bytes) != bytes.size() || !file.flush())
        return false;
    if (time.isValid()) {
        file.setFileTime(time, QFileDevice::FileAccessTime);
        if (!file.setFileTime(time, QFileDevice::FileModificationTime))
            return false;
    }
    return true;
}

QByteArray BuildRecording(const tagVoiceHeader& header, const QByteArray& audio, int paddingBytes)
{
    return BuildVoiceTag(header, {}, paddingBytes) + audio;
}

const QByteArray& ShortSpeechAudio()
{
    static const QByteArray audio = EncodeMp3({8000, 1, 8, false, true}, 2.0, 1).bytes;
    return audio;
}
