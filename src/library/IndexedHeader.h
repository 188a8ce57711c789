#pragma once

#include "recording/VoiceHeader.h"

#include <QByteArray>
#include <QString>

class Cp932Encoder;

// A recording header as the index keeps it. The fields that differ from one
// recording to the next (mode, states, marks, memo) are columns of their own;
// the rest (the bytes the program does not interpret, the same for every
// recording a recorder makes) is a shared template, its zero runs folded. The
// memo is kept as text for searching; where the text gives the memo's bytes
// back exactly (the usual case) the bytes are not kept twice.
struct IndexedHeader
{
    QByteArray templateBytes; // folded; the per-recording fields zero
    int mode = 0;
    int states = 0;           // played | protect << 8 | transferred << 16 | memo from text << 24
    QByteArray marks;         // the five marks' bytes; empty when every slot is empty
    QString memo;             // the memo's bytes up to the first NUL, as Unicode

    bool memoFromText() const { return (states >> 24) & 1; }
    bool isProtected() const { return (states >> 8) & 0xFF; }
};

IndexedHeader PackHeader(const tagVoiceHeader& header, Cp932Encoder& encoder);
// The template's bytes unfolded; false for bytes that PackHeader did not make.
bool UnfoldTemplate(const QByteArray& templateBytes, tagVoiceHeader& header);
// Puts the per-recording fields into a header holding the unfolded template;
// false when they do not fit (the entry is then read again from the file).
bool ApplyRecordingFields(const IndexedHeader& indexed, Cp932Encoder& encoder, tagVoiceHeader& header);
