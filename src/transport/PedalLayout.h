#pragma once

#include <QByteArray>
#include <cstdint>
#include <optional>

// How a foot pedal device reports which pedals are down: each read of its
// hidraw node is one report of a fixed size, and one byte of it holds a bit for
// each pedal.
struct PedalLayout
{
    uint16_t vendor = 0;
    uint16_t product = 0;
    int reportSize = 0;
    int byteIndex = 0;
    uint8_t masks[3] = {}; // left, middle, right

    // The pedals down in this report (bit 0 left, 1 middle, 2 right), or nothing
    // for a report that is not one of this device's (another size).
    std::optional<uint8_t> decode(const QByteArray& report) const;
};

// The layout of a known pedal device by its USB ids, or nothing.
std::optional<PedalLayout> KnownPedalLayout(uint16_t vendor, uint16_t product);
// The layout assumed for a device given by its path (and for the recorded reports of tests).
PedalLayout DefaultPedalLayout();
