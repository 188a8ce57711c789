#pragma once

#include "recording/FileStamp.h"

#include <QByteArray>
#include <QList>
#include <utility>

// How the index keeps what a folder's read met besides its recordings: names parted by
// '/', and stamped names as each name, a 0 byte and its stamp's five numbers. The bytes
// come back from a file that may be damaged: a reader refuses any name a folder cannot
// hold (empty, ".", "..", or with a 0 byte or '/'), and the listing is then not used.
QByteArray JoinNames(const QList<QByteArray>& names);
bool SplitNames(const QByteArray& joined, QList<QByteArray>& names);

using StampedNames = QList<std::pair<QByteArray, FileStamp>>;
QByteArray PackStampedNames(const StampedNames& names);
bool UnpackStampedNames(const QByteArray& packed, StampedNames& names);
