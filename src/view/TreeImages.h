#pragma once

#include <QIcon>

// The six 16 × 16 pictures of the folder tree, by image number: 0 speaker,
// 1 SD card, 2 drive, 3 closed folder, 4 open folder, 5 telephone. The
// recording list marks the loaded row with the speaker. Drawn by the program
// (at two scales, for ordinary and high-density screens).
QIcon TreeImage(int image);
