#include "PedalLayout.h"

#include <iterator>

namespace {

// 05f3:00ff, the three-pedal USB transcription pedal sold most widely: a report
// of two bytes, the first holding bit 0 for the left pedal, bit 1 for the middle
// and bit 2 for the right one; the second byte is always 0. All released is 00 00.
constexpr PedalLayout kLayouts[] = {
    {0x05f3, 0x00ff, 2, 0, {0x01, 0x02, 0x04}},
};

} // namespace

std::optional<uint8_t> PedalLayout::decode(const QByteArray& report) const
{
    if (report.size() != reportSize || byteIndex >= reportSize)
        return std::nullopt;
    const auto byte = uint8_t(report.at(byteIndex));
    uint8_t down = 0;
    for (int pedal = 0; pedal < 3; ++pedal) {
        if (byte & masks[pedal])
            down |= uint8_t(1u << pedal);
    }
    return down;
}

std::optional<PedalLayout> KnownPedalLayout(uint16_t vendor, uint16_t product)
{
    for (const PedalLayout& layout : kLayouts) {
        if (layout.vendor == vendor && layout.product == product)
            return layout;
    }
    return std::nullopt;
}

PedalLayout DefaultPedalLayout()
{
    return kLayouts[0];
}
