#pragma once

#include "recording/VoiceHeader.h"

#include <cstdint>
#include <optional>

// The rules of the section between the begin and end points and of the index marks
// within it, in whole seconds.

// The begin point moved to a second: at most one before the end.
uint32_t BeginMovedTo(uint32_t second, uint32_t end);
// The end point moved to a second: at least one after the begin.
uint32_t EndMovedTo(uint32_t second, uint32_t begin);
// The first mark after the position, when it lies within the section's end.
std::optional<uint32_t> NextMark(const IndexMarks& marks, uint32_t position, uint32_t end);
// The last mark before the position, when it lies within the section's begin.
std::optional<uint32_t> PreviousMark(const IndexMarks& marks, uint32_t position, uint32_t begin);
// A mark at the second comes (into the first empty slot), or goes when there is
// one; the marks come back in order.
IndexMarks ToggleMark(IndexMarks marks, uint32_t second);
// The slot a new mark goes into: the first empty one (a header as the recorder
// wrote it may have one before a set slot), or -1 when all are set.
int FirstEmptyMarkSlot(const IndexMarks& marks);
