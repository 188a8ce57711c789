#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>

// The standard tags of an exported MP3, for ordinary players: title, recording date and
// time, the memo as a comment, and the index marks as chapters.
struct ExportTags
{
    QString title;
    QDateTime recorded;     // invalid: no date
    QString comment;        // empty: none
    QList<int64_t> chapterStartsMs; // ascending, each inside the export
    int64_t lengthMs = 0;   // the export's length; the last chapter ends there
};

// The chapters' titles.
QString ChapterTitle(int number);

// An ID3v2.4 tag holding the tags (TIT2, TDRC, COMM, CHAP frames under one ordered
// top-level CTOC), rendered by TagLib, to be written at the start of the file.
QByteArray RenderExportTag(const ExportTags& tags);
