#pragma once

#include "recording/VoiceHeader.h"

#include <QByteArray>
#include <QString>

class Cp932Encoder;

// A recording header as the index keeps it: its bytes with runs of zeros
// folded, and the memo as text for searching. Where the text gives the memo's
// bytes back exactly (the usual case), the bytes are not kept twice.
struct IndexedHeader
{
    QByteArray packed;
    QString memo;             // the memo's bytes up to the first NUL, as Unicode
    bool memoFromText = false; // the memo bytes are left out of packed
};

IndexedHeader PackHeader(const tagVoiceHeader& header, Cp932Encoder& encoder);
// False for bytes that no PackHeader made (the entry is then read again from the file).
bool UnpackHeader(const IndexedHeader& indexed, Cp932Encoder& encoder, tagVoiceHeader& header);
