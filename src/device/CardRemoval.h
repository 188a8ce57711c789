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

// How the routine waits between attempts. The program keeps painting its
// windows meanwhile but takes no input and starts no timer-driven work
// (waitPaintingOnly), as it does during each call to the disk service; the
// command must not start twice, nor anything else in its middle. Tests
// replace it.
using EjectWait = std::function<void(int milliseconds)>;

inline constexpr int kEjectAttempts = 5;
inline constexpr int kEjectRetryMs = 1000;

// The sequence on a real volume: up to five unmount attempts 1000 ms apart
// while the volume is busy, then eject or power off, whose results do not count.
// The calls are bounded as UDisks2.h says, so a service that does not answer
// makes the removal fail after a few attempts instead of holding the window.
bool EjectThroughUDisks(UDisksApi& udisks, const QString& deviceNode, const EjectWait& wait);
