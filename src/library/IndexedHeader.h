#pragma once

#include "recording/VoiceHeader.h"

#include <QByteArray>
#include <QString>

// A recording header as the index keeps it. The fields that differ from one
// recording to the next (mode, states, marks, memo) are columns of their own;
// the rest (the bytes the program does not interpret, the same for every
// recording a recorder makes) is a shared template, its zero runs folded. The
// memo is kept as its bytes, which a scan copies back without converting, and
// as text for searching.
struct IndexedHeader
{
    QByteArray templateBytes; // folded; the per-recording fields zero
    int mode = 0;
    int states = 0;           // played | protect << 8 | transferred << 16
    QByteArray marks;         // the five marks' bytes; empty when every slot is empty
    QByteArray memoBytes;     // the memo field without its trailing zero bytes
    QString memo;             // the memo's bytes up to the first NUL, as Unicode
};

IndexedHeader PackHeader(const tagVoiceHeader& header);
// The template's bytes unfolded; false for bytes that PackHeader did not make.
bool UnfoldTemplate(const QByteArray& templateBytes, tagVoiceHeader& header);
// Puts the per-recording fields into a header holding the unfolded template;
// false when they do not fit (the entry is then read again from the file).
bool ApplyRecordingFields(const IndexedHeader& indexed, tagVoiceHeader& header);
