#pragma once

#include "CardBuilder.h"
#include "RecordingBuilder.h"

#include <QList>
#include <QString>

// Writes REC00000.MP3, REC00001.MP3, ... into the folder: copies of three
// encoded files (one of each recorder mode), each with a header and memo
// ("定例会議 第n回") of its own.
inline bool WriteMeetingRecordings(const QString& folder, int count)
{
    QList<QByteArray> audio;
    for (uint8_t mode = 0; mode < 3; ++mode)
        audio.append(EncodeMp3(RecorderFormat(mode), 3.0, mode).bytes);
    for (int i = 0; i < count; ++i) {
        const QByteArray bytes =
            BuildRecording(MakeVoiceHeader(uint8_t(i % 3), QStringLiteral("定例会議 第%1回").arg(i)), audio[i % 3]);
        if (!WriteFileBytes(folder + QStringLiteral("/REC%1.MP3").arg(i, 5, 10, QLatin1Char('0')), bytes))
            return false;
    }
    return true;
}
