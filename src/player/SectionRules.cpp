#include "SectionRules.h"

#include <algorithm>

uint32_t BeginMovedTo(uint32_t second, uint32_t end)
{
    return end > 0 ? std::min(second, end - 1) : 0;
}

uint32_t EndMovedTo(uint32_t second, uint32_t begin)
{
    return std::max(second, begin + 1);
}

std::optional<uint32_t> NextMark(const IndexMarks& marks, uint32_t position, uint32_t end)
{
    const auto next = std::find_if(marks.begin(), marks.end(),
                                   [position](uint32_t mark) { return mark != kEmptyIndexMark && mark > position; });
    if (next == marks.end() || *next > end)
        return std::nullopt;
    return *next;
}

std::optional<uint32_t> PreviousMark(const IndexMarks& marks, uint32_t position, uint32_t begin)
{
    const auto previous = std::find_if(marks.rbegin(), marks.rend(), [position](uint32_t mark) {
        return mark != kEmptyIndexMark && mark < position;
    });
    if (previous == marks.rend() || *previous < begin)
        return std::nullopt;
    return *previous;
}

IndexMarks ToggleMark(IndexMarks marks, uint32_t second)
{
    for (uint32_t& slot : marks) {
        if (slot == kEmptyIndexMark) {
            slot = second;
            break;
        }
        if (slot == second) {
            slot = kEmptyIndexMark;
            break;
        }
    }
    NormalizeIndexMarks(marks);
    return marks;
}

int FirstEmptyMarkSlot(const IndexMarks& marks)
{
    const auto empty = std::find(marks.begin(), marks.end(), kEmptyIndexMark);
    return empty != marks.end() ? int(empty - marks.begin()) : -1;
}
