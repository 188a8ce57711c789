#pragma once

#include "RecordingIndex.h"

#include <QList>
#include <functional>
#include <memory>
#include <vector>

class CFileList;

// The places a search of every folder covers: the recorder's and the card's
// recording folders with their subfolders, each save subfolder and each
// registered folder; a folder shown twice counts once.
// labelOf names each list's place as the window shows it.
QList<SearchPlace> ArchivePlaces(const std::vector<std::shared_ptr<CFileList>>& lists,
                                 const std::function<QString(const CFileList&)>& labelOf = {});

// Between the names of a place and of the folders below it.
inline const QString kPlaceNameSeparator = QStringLiteral(" › ");

// Where a folder holding a hit lies, in words: the label of the place it
// belongs to (the place with that very folder, else the deepest one it lies
// below), then the folders below the place. The folder itself, without its
// trailing separator, when no labelled place holds it.
QString PlaceOfFolderText(const QString& folder, const QList<SearchPlace>& places);

// Brings the index up to date for the places by scanning each through it, as
// the window lists them: unchanged files are not read again. Returns the
// recordings that could not be read (held by another program beyond a short
// wait, or changing while read).
QStringList RefreshPlaces(const QList<SearchPlace>& places, ScanCache& cache);
