#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <functional>

// Keeps the program's windows painted while the user-interface thread waits in
// the middle of a blocking step (a card being released, a file being copied)
// and starts nothing else meanwhile: user input stays queued, socket notifiers
// stay unread, and the timer events of the user-interface thread are held
// back, so no timer-driven work of the windows runs in the middle of the step.
//
// A held-back timer event is swallowed. A repeating timer skips the ticks that
// fell into the wait and goes on after it; a single-shot timer is stopped only
// when its event is delivered, so it fires at its next interval after the wait.
// The timers of windows (their update requests) still run, and so do queued
// calls (QTimer::singleShot with no delay is one) and deferred deletes, which
// cannot be held back without losing them.
//
// The filter is installed on the application for the object's lifetime; waits
// may nest.
class PaintOnlyWait : public QObject
{
public:
    PaintOnlyWait();
    ~PaintOnlyWait() override;
    PaintOnlyWait(const PaintOnlyWait&) = delete;
    PaintOnlyWait& operator=(const PaintOnlyWait&) = delete;

    void waitFor(int milliseconds);
    // Paints until done() holds or the deadline passes; returns done().
    bool waitUntil(const std::function<bool()>& done, QDeadlineTimer deadline);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// One wait of the given length.
void waitPaintingOnly(int milliseconds);
// One wait until done() holds, for at most timeoutMs; returns done().
bool waitPaintingOnlyUntil(const std::function<bool()>& done, int timeoutMs);
