#pragma once

#include "RecordingIndex.h"

#include <QList>
#include <memory>
#include <vector>

class CFileList;

// The places a search of every folder covers: the recorder's and the card's
// recording folders with their subfolders, each save subfolder and each
// registered folder; a folder shown twice counts once.
QList<SearchPlace> ArchivePlaces(const std::vector<std::shared_ptr<CFileList>>& lists);

// Brings the index up to date for the places by scanning each through it, as
// the window lists them: unchanged files are not read again.
void RefreshPlaces(const QList<SearchPlace>& places, ScanCache& cache);
