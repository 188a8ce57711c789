#include "TestRegistry.h"
#include "platform/PaintOnlyWait.h"

#include <QPainter>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

namespace {

class CountingWidget : public QWidget
{
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++paints;
        QPainter(this).fillRect(rect(), Qt::white);
    }
};

} // namespace

class PaintOnlyWaitTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void timersWaitUntilItEnds_data()
    {
        QTest::addColumn<QString>("timer");
        QTest::newRow("single-shot QTimer") << "single";
        QTest::newRow("repeating QTimer") << "repeating";
        QTest::newRow("QTimer::singleShot") << "static";
    }
    void timersWaitUntilItEnds()
    {
        QFETCH(QString, timer);
        int fired = 0;
        QTimer qtimer;
        if (timer == QLatin1String("static")) {
            QTimer::singleShot(10, this, [&] { ++fired; });
        } else {
            qtimer.setSingleShot(timer == QLatin1String("single"));
            qtimer.setInterval(10);
            connect(&qtimer, &QTimer::timeout, this, [&] { ++fired; });
            qtimer.start();
        }
        // Long enough for many intervals to pass.
        waitPaintingOnly(200);
        QCOMPARE(fired, 0);
        // A swallowed tick leaves the timer running: it fires after the wait.
        QTRY_VERIFY(fired > 0);
        if (timer != QLatin1String("repeating")) {
            QTest::qWait(50);
            QCOMPARE(fired, 1);
        }
    }

    void paintingGoesOn()
    {
        CountingWidget widget;
        widget.resize(64, 64);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QTRY_VERIFY(widget.paints > 0);
        widget.paints = 0;
        widget.update();
        waitPaintingOnly(50);
        QVERIFY(widget.paints > 0);
    }

    void waitsUntilDoneOrTheDeadline()
    {
        std::atomic<bool> flag = false;
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            flag = true;
        });
        QVERIFY(waitPaintingOnlyUntil([&] { return flag.load(); }, 10000));
        setter.join();
        QVERIFY(!waitPaintingOnlyUntil([] { return false; }, 30));
    }
};

TALVEN77_REGISTER_TEST(PaintOnlyWaitTest);
#include "PaintOnlyWaitTest.moc"
