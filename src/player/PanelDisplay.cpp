#include "PanelDisplay.h"

#include "PanelArtwork.h"
#include "PlaybackSession.h"
#include "platform/LocalTime.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

// The part of a character cell above the baseline.
constexpr double kAscent = 0.86;

// Bold monospaced faces that hold Japanese, standing in for the recorder
// world's usual gothic face.
QFont displayFont(DisplayItem::Font font)
{
    QFont result;
    result.setFamilies({QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP"),
                        QStringLiteral("monospace")});
    result.setPixelSize(font == DisplayItem::Large ? 22 : 14);
    result.setBold(true);
    result.setFixedPitch(true);
    result.setStyleHint(QFont::TypeWriter);
    return result;
}

DisplayItem text(int x, int y, const QString& content, DisplayItem::Font font, bool white = false)
{
    DisplayItem item;
    item.rect = QRect(x, y, 0, 0);
    item.text = content;
    item.font = font;
    item.white = white;
    return item;
}

DisplayItem box(DisplayItem::Kind kind, const QRect& rect)
{
    DisplayItem item;
    item.kind = kind;
    item.rect = rect;
    return item;
}

QString modeText(uint8_t mode)
{
    switch (mode) {
    case 1:
        return QStringLiteral("標　準");
    case 2:
        return QStringLiteral("高音質");
    default:
        return QStringLiteral("長時間");
    }
}

} // namespace

QString FormatDisplayDuration(uint32_t seconds)
{
    return QString::asprintf("%3u", seconds / 60) + QStringLiteral("分") + QString::asprintf("%2u", seconds % 60)
           + QStringLiteral("秒");
}

QString FormatSectionTime(uint32_t seconds)
{
    return QString::asprintf("%2u:%02u", seconds / 60, seconds % 60);
}

int DisplayIndexNumber(const PanelDisplayState& state)
{
    bool any = false;
    for (const uint32_t mark : state.marks)
        any = any || mark != kEmptyIndexMark;
    if (!any)
        return 0;
    int number = 0;
    if (state.engineState == CMp3Ctrl::Stopped) {
        for (const uint32_t mark : state.marks)
            number += mark != kEmptyIndexMark ? 1 : 0;
        return number;
    }
    for (int j = 0; j < kIndexMarkCount; ++j) {
        if (state.marks[size_t(j)] <= state.position)
            number = j + 1;
    }
    return number;
}

QList<DisplayItem> BuildDisplayItems(const PanelDisplayState& state, QSize area)
{
    const int w = area.width();
    const int h = area.height();
    QList<DisplayItem> items;
    if (state.selCount >= 2) {
        items.append(text(100, 50, QString::asprintf("%4d ", state.selCount) + QStringLiteral("件"), DisplayItem::Large));
    } else if (state.selCount == 1) {
        DisplayItem duration = text(0, 0, FormatDisplayDuration(state.duration), DisplayItem::Large);
        duration.rect = QRect(QPoint(w - 125, 10), QPoint(w - 15, 30));
        duration.align = Qt::AlignRight | Qt::AlignVCenter;
        items.append(duration);
        if (state.engineState != CMp3Ctrl::Stopped) {
            DisplayItem position = text(0, 0, FormatDisplayDuration(state.position) + QStringLiteral(" /"),
                                        DisplayItem::Large);
            position.rect = QRect(QPoint(w - 280, 10), QPoint(w - 130, 30));
            position.align = Qt::AlignRight | Qt::AlignVCenter;
            items.append(position);
            if (state.seeking) {
                items.append(text(15, 8, QStringLiteral("<<シーク中>>"), DisplayItem::Large));
            } else if (state.engineState == CMp3Ctrl::Playing) {
                items.append(box(DisplayItem::PlayTriangle, QRect(QPoint(15, 10), QPoint(30, 26))));
                items.append(text(40, 8, QStringLiteral("再生中"), DisplayItem::Large));
            } else {
                items.append(box(DisplayItem::PauseBars, QRect(15, 10, 4, 16)));
                items.append(text(40, 8, QStringLiteral("一時停止"), DisplayItem::Large));
            }
        }
        items.append(text(20, 50, FormatLocalTime(state.fileTime, "%Y年 %m月 %d日  %H : %M"), DisplayItem::Large));

        items.append(box(DisplayItem::RoundBox, QRect(QPoint(60, h - 28), QPoint(120, h - 5))));
        DisplayItem mode = text(0, 0, modeText(state.mode), DisplayItem::Small);
        mode.rect = items.last().rect;
        mode.align = Qt::AlignCenter;
        items.append(mode);

        if (const int index = DisplayIndexNumber(state)) {
            items.append(text(150, h - 22, QStringLiteral("ｲﾝﾃﾞｯｸｽ"), DisplayItem::Small));
            items.append(text(220, h - 30, QString::number(index), DisplayItem::Large));
        }
        const bool badge = state.playedFlag == 0;
        if (badge) {
            items.append(box(DisplayItem::FilledRoundBox, QRect(QPoint(w - 155, h - 30), QPoint(w - 35, h - 5))));
            items.append(text(w - 145, h - 22, QStringLiteral("未"), DisplayItem::Small, true));
        }
        items.append(text(w - 120, h - 30, QString::asprintf("%4d", state.rowNumber), DisplayItem::Large, badge));
        items.append(text(w - 70, h - 22, QStringLiteral("件目"), DisplayItem::Small, badge));
    }
    if (state.usbConnected) {
        items.append(box(DisplayItem::RoundBox, QRect(QPoint(10, h - 28), QPoint(50, h - 5))));
        DisplayItem usb = text(0, 0, QStringLiteral("USB"), DisplayItem::Small);
        usb.rect = items.last().rect;
        usb.align = Qt::AlignCenter;
        items.append(usb);
    }
    if (state.selCount == 1 && state.protectFlag != 0)
        items.append(box(DisplayItem::ProtectIcon, QRect(w - 35, h - 40, 32, 32)));
    return items;
}

void PaintDisplayItems(QPainter& painter, const QList<DisplayItem>& items, QSize area)
{
    painter.fillRect(QRect(QPoint(0, 0), area), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFont large = displayFont(DisplayItem::Large);
    const QFont small = displayFont(DisplayItem::Small);
    for (const DisplayItem& item : items) {
        switch (item.kind) {
        case DisplayItem::Text: {
            painter.setFont(item.font == DisplayItem::Large ? large : small);
            painter.setPen(item.white ? Qt::white : Qt::black);
            if (item.align) {
                painter.drawText(item.rect, int(item.align) | Qt::TextSingleLine, item.text);
            } else {
                // The position is the top of the character cell, whose height is the
                // font's pixel size (faces with taller line spacing would sit lower).
                const int pixels = painter.font().pixelSize();
                painter.drawText(QPointF(item.rect.left(), item.rect.top() + pixels * kAscent), item.text);
            }
            break;
        }
        case DisplayItem::PlayTriangle: {
            QPainterPath triangle;
            triangle.moveTo(item.rect.topLeft());
            triangle.lineTo(item.rect.left(), item.rect.bottom());
            triangle.lineTo(item.rect.right(), item.rect.center().y());
            triangle.closeSubpath();
            painter.fillPath(triangle, Qt::black);
            break;
        }
        case DisplayItem::PauseBars:
            painter.fillRect(item.rect, Qt::black);
            painter.fillRect(item.rect.translated(8, 0), Qt::black);
            break;
        case DisplayItem::RoundBox:
        case DisplayItem::FilledRoundBox:
            painter.setPen(QPen(Qt::black, 1));
            painter.setBrush(item.kind == DisplayItem::RoundBox ? Qt::white : Qt::black);
            painter.drawRoundedRect(QRectF(item.rect).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
            painter.setBrush(Qt::NoBrush);
            break;
        case DisplayItem::ProtectIcon:
            painter.drawPixmap(item.rect, PanelArtwork::protectIcon(painter.device()->devicePixelRatioF()));
            break;
        }
    }
}

BarPictures BuildBarPictures(const PanelDisplayState& state, int barLeft, double pixelsPerSecond, int dragMark)
{
    BarPictures pictures;
    if (state.selCount != 1)
        return pictures;
    int drawn = 0;
    for (int j = 0; j < kIndexMarkCount; ++j) {
        const uint32_t mark = state.marks[size_t(j)];
        if (mark == kEmptyIndexMark || mark == 0)
            continue;
        pictures.flags.append({j + 1, barLeft + int(pixelsPerSecond * mark)});
        ++drawn;
    }
    if (dragMark >= 0 && dragMark < drawn) {
        pictures.home = BarPictures::Cross;
    } else if (drawn < kIndexMarkCount) {
        pictures.home = BarPictures::NextFlag;
        pictures.nextNumber = drawn + 1;
    }
    return pictures;
}

uint32_t SecondAtBarOffset(int x, double pixelsPerSecond, uint32_t duration)
{
    if (x <= 0 || pixelsPerSecond <= 0)
        return 0;
    const double second = std::round(double(x) / pixelsPerSecond);
    return second >= double(duration) ? duration : uint32_t(second);
}

PanelDisplayState SessionDisplayState(const PlaybackSession& session, bool usbConnected)
{
    PanelDisplayState state;
    // One row selected without its recording loaded shows nothing.
    state.selCount = session.selectedCount() == 1 && !session.loaded() ? 0 : session.selectedCount();
    state.engineState = session.state();
    state.seeking = session.seeking();
    state.duration = session.duration();
    state.position = session.position();
    state.fileTime = session.fileTime();
    state.mode = session.header().mode;
    state.playedFlag = session.header().playedFlag;
    state.protectFlag = session.header().protectFlag;
    state.marks = session.marks();
    state.rowNumber = session.rowNumber();
    state.usbConnected = usbConnected;
    return state;
}
