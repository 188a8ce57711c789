#include "PaintOnlyWait.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace {

// How long one sleep between two passes over the events lasts: short enough
// for painting to follow, long enough to leave the processor alone.
constexpr qint64 kPollMs = 10;

constexpr QEventLoop::ProcessEventsFlags kPaintOnly =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;

} // namespace

PaintOnlyWait::PaintOnlyWait()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->installEventFilter(this);
}

PaintOnlyWait::~PaintOnlyWait()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        application->removeEventFilter(this);
}

void PaintOnlyWait::waitFor(int milliseconds)
{
    waitUntil([] { return false; }, QDeadlineTimer(milliseconds));
}

bool PaintOnlyWait::waitUntil(const std::function<bool()>& done, QDeadlineTimer deadline)
{
    for (;;) {
        // One pass only: a swallowed zero-interval timer is due again at once
        // and would keep a longer pass spinning.
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(kPaintOnly);
        if (done())
            return true;
        const qint64 remaining = deadline.remainingTime();
        if (remaining == 0)
            return false;
        QThread::msleep(remaining < 0 ? kPollMs : qMin(remaining, kPollMs));
    }
}

bool PaintOnlyWait::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Timer && !watched->isWindowType())
        return true;
    return QObject::eventFilter(watched, event);
}

void waitPaintingOnly(int milliseconds)
{
    PaintOnlyWait wait;
    wait.waitFor(milliseconds);
}

bool waitPaintingOnlyUntil(const std::function<bool()>& done, int timeoutMs)
{
    PaintOnlyWait wait;
    return wait.waitUntil(done, QDeadlineTimer(timeoutMs));
}
