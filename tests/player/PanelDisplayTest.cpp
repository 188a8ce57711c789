#include "TestRegistry.h"
#include "player/PanelDisplay.h"

#include <QTest>

namespace {

constexpr uint32_t E = kEmptyIndexMark;

// The texts drawn, in drawing order.
QStringList texts(const QList<DisplayItem>& items)
{
    QStringList result;
    for (const DisplayItem& item : items) {
        if (item.kind == DisplayItem::Text)
            result.append(item.text);
    }
    return result;
}

const DisplayItem* itemWithText(const QList<DisplayItem>& items, const QString& text)
{
    for (const DisplayItem& item : items) {
        if (item.kind == DisplayItem::Text && item.text == text)
            return &item;
    }
    return nullptr;
}

bool hasKind(const QList<DisplayItem>& items, DisplayItem::Kind kind)
{
    return std::any_of(items.begin(), items.end(), [kind](const DisplayItem& item) { return item.kind == kind; });
}

PanelDisplayState oneRecording()
{
    PanelDisplayState state;
    state.selCount = 1;
    state.duration = 125;
    state.fileTime = 1365984000; // 2013-04-15 09:00 in Tokyo
    state.mode = 1;
    state.playedFlag = 2;
    state.rowNumber = 3;
    return state;
}

const QSize kArea(408, 137);

} // namespace

Q_DECLARE_METATYPE(CMp3Ctrl::PlayerState)

class PanelDisplayTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stoppedRecording()
    {
        const QList<DisplayItem> items = BuildDisplayItems(oneRecording(), kArea);
        QCOMPARE(texts(items), (QStringList{QStringLiteral("  2分 5秒"), QStringLiteral("2013年 04月 15日  09 : 00"),
                                            QStringLiteral("標　準"), QStringLiteral("   3"), QStringLiteral("件目")}));
        const DisplayItem* duration = itemWithText(items, QStringLiteral("  2分 5秒"));
        QCOMPARE(duration->rect, QRect(QPoint(kArea.width() - 125, 10), QPoint(kArea.width() - 15, 30)));
        QVERIFY(duration->align & Qt::AlignRight);
        QCOMPARE(duration->font, DisplayItem::Large);
        QCOMPARE(itemWithText(items, QStringLiteral("標　準"))->font, DisplayItem::Small);
        QVERIFY(!hasKind(items, DisplayItem::PlayTriangle));
        QVERIFY(!hasKind(items, DisplayItem::ProtectIcon));
        QVERIFY(!hasKind(items, DisplayItem::FilledRoundBox));
    }

    void playState_data()
    {
        QTest::addColumn<CMp3Ctrl::PlayerState>("state");
        QTest::addColumn<bool>("seeking");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("shape"); // the state's picture, -1 none
        QTest::newRow("playing") << CMp3Ctrl::Playing << false << QStringLiteral("再生中") << int(DisplayItem::PlayTriangle);
        QTest::newRow("paused") << CMp3Ctrl::Paused << false << QStringLiteral("一時停止") << int(DisplayItem::PauseBars);
        QTest::newRow("seeking") << CMp3Ctrl::Paused << true << QStringLiteral("<<シーク中>>") << -1;
    }

    void playState()
    {
        QFETCH(CMp3Ctrl::PlayerState, state);
        QFETCH(bool, seeking);
        QFETCH(QString, label);
        QFETCH(int, shape);
        PanelDisplayState display = oneRecording();
        display.engineState = state;
        display.seeking = seeking;
        display.position = 65;
        const QList<DisplayItem> items = BuildDisplayItems(display, kArea);
        const DisplayItem* position = itemWithText(items, QStringLiteral("  1分 5秒 /"));
        QVERIFY(position);
        QCOMPARE(position->rect, QRect(QPoint(kArea.width() - 280, 10), QPoint(kArea.width() - 130, 30)));
        QVERIFY(itemWithText(items, label));
        QCOMPARE(itemWithText(items, label)->rect.topLeft(), label.startsWith(u'<') ? QPoint(15, 8) : QPoint(40, 8));
        QCOMPARE(hasKind(items, DisplayItem::PlayTriangle), shape == DisplayItem::PlayTriangle);
        QCOMPARE(hasKind(items, DisplayItem::PauseBars), shape == DisplayItem::PauseBars);
    }

    void indexNumber_data()
    {
        QTest::addColumn<IndexMarks>("marks");
        QTest::addColumn<CMp3Ctrl::PlayerState>("state");
        QTest::addColumn<uint32_t>("position");
        QTest::addColumn<int>("number");
        const IndexMarks tenForty{10, 40, E, E, E};
        QTest::newRow("stopped") << tenForty << CMp3Ctrl::Stopped << 0u << 2;
        QTest::newRow("playing at 25") << tenForty << CMp3Ctrl::Playing << 25u << 1;
        QTest::newRow("playing at 45") << tenForty << CMp3Ctrl::Playing << 45u << 2;
        QTest::newRow("playing at 40") << tenForty << CMp3Ctrl::Playing << 40u << 2;
        QTest::newRow("paused at 5") << tenForty << CMp3Ctrl::Paused << 5u << 0;
        QTest::newRow("none") << IndexMarks{E, E, E, E, E} << CMp3Ctrl::Stopped << 0u << 0;
        QTest::newRow("a slot holding 0 counts") << IndexMarks{0, 30, E, E, E} << CMp3Ctrl::Stopped << 0u << 2;
    }

    void indexNumber()
    {
        QFETCH(IndexMarks, marks);
        QFETCH(CMp3Ctrl::PlayerState, state);
        QFETCH(uint32_t, position);
        QFETCH(int, number);
        PanelDisplayState display = oneRecording();
        display.marks = marks;
        display.engineState = state;
        display.position = position;
        QCOMPARE(DisplayIndexNumber(display), number);
        const QList<DisplayItem> items = BuildDisplayItems(display, kArea);
        QCOMPARE(bool(itemWithText(items, QStringLiteral("ｲﾝﾃﾞｯｸｽ"))), number != 0);
        if (number)
            QCOMPARE(itemWithText(items, QString::number(number))->rect.topLeft(), QPoint(220, kArea.height() - 30));
    }

    void modeTexts_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << QStringLiteral("長時間");
        QTest::newRow("1") << 1 << QStringLiteral("標　準");
        QTest::newRow("2") << 2 << QStringLiteral("高音質");
        QTest::newRow("7") << 7 << QStringLiteral("長時間");
    }

    void modeTexts()
    {
        QFETCH(int, mode);
        QFETCH(QString, text);
        PanelDisplayState display = oneRecording();
        display.mode = uint8_t(mode);
        QVERIFY(itemWithText(BuildDisplayItems(display, kArea), text));
    }

    void unplayedBadgeTurnsTheRowWhite()
    {
        PanelDisplayState display = oneRecording();
        display.playedFlag = 0;
        display.protectFlag = 5;
        display.usbConnected = true;
        const QList<DisplayItem> items = BuildDisplayItems(display, kArea);
        QVERIFY(hasKind(items, DisplayItem::FilledRoundBox));
        QVERIFY(itemWithText(items, QStringLiteral("未"))->white);
        QVERIFY(itemWithText(items, QStringLiteral("   3"))->white);
        QVERIFY(itemWithText(items, QStringLiteral("件目"))->white);
        QVERIFY(itemWithText(items, QStringLiteral("USB")));
        QVERIFY(hasKind(items, DisplayItem::ProtectIcon));
    }

    void aSelectionShowsItsCount()
    {
        PanelDisplayState display = oneRecording();
        display.selCount = 2;
        display.protectFlag = 1;
        const QList<DisplayItem> items = BuildDisplayItems(display, kArea);
        QCOMPARE(texts(items), QStringList{QStringLiteral("   2 件")});
        QCOMPARE(items.first().rect.topLeft(), QPoint(100, 50));
        QVERIFY(!hasKind(items, DisplayItem::ProtectIcon));
        const BarPictures bar = BuildBarPictures(display, 455, 2.0, -1);
        QVERIFY(bar.flags.isEmpty());
        QCOMPARE(bar.home, BarPictures::PlainFlag);

        display.selCount = 0;
        display.usbConnected = true;
        QCOMPARE(texts(BuildDisplayItems(display, kArea)), QStringList{QStringLiteral("USB")});
    }

    void flagsAndHome_data()
    {
        QTest::addColumn<IndexMarks>("marks");
        QTest::addColumn<int>("dragMark");
        QTest::addColumn<QList<int>>("lefts");
        QTest::addColumn<int>("home"); // BarPictures::Home
        QTest::addColumn<int>("next");
        QTest::newRow("two marks") << IndexMarks{10, 40, E, E, E} << -1 << QList<int>{475, 535}
                                   << int(BarPictures::NextFlag) << 3;
        QTest::newRow("a slot holding 0 draws no flag") << IndexMarks{0, 40, E, E, E} << -1 << QList<int>{535}
                                                        << int(BarPictures::NextFlag) << 2;
        QTest::newRow("five marks") << IndexMarks{1, 2, 3, 4, 5} << -1 << QList<int>{457, 459, 461, 463, 465}
                                    << int(BarPictures::PlainFlag) << 0;
        QTest::newRow("five marks, one dragged") << IndexMarks{1, 2, 3, 4, 5} << 2 << QList<int>{457, 459, 461, 463, 465}
                                                 << int(BarPictures::Cross) << 0;
        QTest::newRow("a new flag dragged") << IndexMarks{10, E, E, E, E} << 1 << QList<int>{475}
                                            << int(BarPictures::NextFlag) << 2;
    }

    void flagsAndHome()
    {
        QFETCH(IndexMarks, marks);
        QFETCH(int, dragMark);
        QFETCH(QList<int>, lefts);
        QFETCH(int, home);
        QFETCH(int, next);
        PanelDisplayState display = oneRecording();
        display.marks = marks;
        const BarPictures bar = BuildBarPictures(display, 455, 2.0, dragMark);
        QList<int> drawn;
        for (const BarPictures::Flag& flag : bar.flags)
            drawn.append(flag.left);
        QCOMPARE(drawn, lefts);
        QCOMPARE(int(bar.home), home);
        QCOMPARE(bar.nextNumber, next);
    }

    // The second a pointer at x pixels right of the bar's left stands on: the
    // nearest, and past either end the end itself, however far and however long.
    void secondUnderThePointer_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<double>("pixelsPerSecond");
        QTest::addColumn<uint>("duration");
        QTest::addColumn<uint>("second");
        const double minute = 357.0 / 60, tenHours = 357.0 / 36000;
        QTest::newRow("minute, start") << 0 << minute << 60u << 0u;
        QTest::newRow("minute, thirty") << int(minute * 30) << minute << 60u << 30u;
        QTest::newRow("minute, end pixel") << 357 << minute << 60u << 60u;
        QTest::newRow("minute, left of the bar") << -1 << minute << 60u << 0u;
        QTest::newRow("minute, far left") << -400 << minute << 60u << 0u;
        QTest::newRow("minute, right of the bar") << 358 << minute << 60u << 60u;
        QTest::newRow("minute, far right") << 5000 << minute << 60u << 60u;
        QTest::newRow("ten hours, middle") << 178 << tenHours << 36000u << 17950u;
        QTest::newRow("ten hours, one left of the end") << 356 << tenHours << 36000u << 35899u;
        QTest::newRow("ten hours, right of the bar") << 360 << tenHours << 36000u << 36000u;
        QTest::newRow("ten hours, left of the bar") << -3 << tenHours << 36000u << 0u;
        QTest::newRow("no length") << 200 << 357.0 << 0u << 0u;
    }

    void secondUnderThePointer()
    {
        QFETCH(int, x);
        QFETCH(double, pixelsPerSecond);
        QFETCH(uint, duration);
        QFETCH(uint, second);
        QCOMPARE(SecondAtBarOffset(x, pixelsPerSecond, duration), second);
    }

    void formats()
    {
        QCOMPARE(FormatDisplayDuration(125), QStringLiteral("  2分 5秒"));
        QCOMPARE(FormatDisplayDuration(6005), QStringLiteral("100分 5秒"));
        QCOMPARE(FormatSectionTime(65), QStringLiteral(" 1:05"));
        QCOMPARE(FormatSectionTime(6005), QStringLiteral("100:05"));
    }
};

TALVEN77_REGISTER_TEST(PanelDisplayTest);

#include "PanelDisplayTest.moc"
