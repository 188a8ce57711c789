#pragma once

#include <QString>
#include <functional>

class UDisksApi;

// Releases a card for removal: its file system is flushed and unmounted, then
// its drive is ejected (or powered off where it cannot eject). True when the
// file system was unmounted; false for a drive that is not there or not
// removable, and when unmounting failed (the card stays usable then).
// A simulated card is released by removing its line from the simulation.
bool EjectRemovableDrive(const QString& drive);

// How the routine waits between attempts; the program keeps painting its
// windows meanwhile. Tests replace it.
using EjectWait = std::function<void(int milliseconds)>;

inline constexpr int kEjectAttempts = 5;
inline constexpr int kEjectRetryMs = 1000;

// The sequence on a real volume: up to five unmount attempts 1000 ms apart
// while the volume is busy, then eject or power off, whose results do not count.
bool EjectThroughUDisks(UDisksApi& udisks, const QString& deviceNode, const EjectWait& wait);
