#pragma once

#include <QString>

struct tagVoiceHeader;

// The memo as the panel shows and the header stores it: CP932 bytes, lines broken
// by CR LF in the header and by LF alone in the memo box, white space at both ends
// cut off.

// White space at both ends cut off, as the recorder's memo is kept.
QString TrimmedMemo(const QString& text);
// The header's memo as the memo box shows it.
QString MemoOfHeader(const tagVoiceHeader& header);
// The memo box's text as the header stores it: lines broken by CR LF, as the
// recorder and every earlier version write them.
QString StoredMemo(const QString& text);
// How many bytes the text takes in the header, or -1 when CP932 cannot hold it.
int MemoBytes(const QString& text);
