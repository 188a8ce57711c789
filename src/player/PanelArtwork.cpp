#include "PanelArtwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QPolygonF>
#include <QtMath>
#include <cmath>

namespace {

const QColor kSymbol(0x1f, 0x2a, 0x36);
const QColor kSymbolDisabled(0xa4, 0xa8, 0xad);
const QColor kFrame(0x6b, 0x70, 0x76);
const QColor kFrameDisabled(0xb4, 0xb7, 0xbb);
const QColor kFocus(0x2f, 0x6f, 0xd0);
const QColor kFlag(0xd6, 0x2b, 0x2b);
const QColor kFlagEdge(0x8c, 0x14, 0x14);
const QColor kPole(0x45, 0x45, 0x45);
const QColor kBegin(0x2e, 0xa0, 0x43);
const QColor kBeginEdge(0x1a, 0x68, 0x2a);
const QColor kEnd(0xd7, 0x3a, 0x2f);
const QColor kEndEdge(0x8e, 0x1f, 0x17);

// Draws a picture once per name and ratio; later calls get the cached copy.
// A ratio that is not positive counts as 1.
template <typename Draw>
QPixmap cachedPicture(const QString& name, QSize size, qreal devicePixelRatio, Draw draw)
{
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QString key = QStringLiteral("talven77/panel/%1@%2").arg(name).arg(ratio);
    QPixmap pixmap;
    if (QPixmapCache::find(key, &pixmap))
        return pixmap;
    pixmap = QPixmap(qCeil(size.width() * ratio), qCeil(size.height() * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
        draw(painter);
    }
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

QPolygonF triangle(QPointF a, QPointF b, QPointF c)
{
    return QPolygonF({a, b, c});
}

// The symbols point forward (to the right) around the centre; the backward
// ones are their mirror images.
QPainterPath transportSymbol(TransportButton button, QPointF centre)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    const qreal x = centre.x();
    const qreal y = centre.y();
    switch (button) {
    case TransportButton::FastBack:
    case TransportButton::FastForward:
        path.addPolygon(triangle({x - 8, y - 6}, {x - 8, y + 6}, {x, y}));
        path.addPolygon(triangle({x, y - 6}, {x, y + 6}, {x + 8, y}));
        break;
    case TransportButton::SkipBack:
    case TransportButton::SkipForward:
        path.addPolygon(triangle({x - 8, y - 6}, {x - 8, y + 6}, {x - 1, y}));
        path.addPolygon(triangle({x - 1, y - 6}, {x - 1, y + 6}, {x + 6, y}));
        path.addRect(QRectF(x + 6, y - 6, 2, 12));
        break;
    case TransportButton::Pause:
        path.addRect(QRectF(x - 6, y - 6, 4, 12));
        path.addRect(QRectF(x + 2, y - 6, 4, 12));
        break;
    case TransportButton::Stop:
        path.addRect(QRectF(x - 5, y - 5, 10, 10));
        break;
    case TransportButton::Play:
        path.addPolygon(triangle({x - 5, y - 7}, {x - 5, y + 7}, {x + 7, y}));
        break;
    }
    path.closeSubpath();
    if (button == TransportButton::FastBack || button == TransportButton::SkipBack) {
        QTransform mirror;
        mirror.translate(2 * x, 0);
        mirror.scale(-1, 1);
        path = mirror.map(path);
    }
    return path;
}

void drawTransportFace(QPainter& painter, TransportButton button, ButtonFace face, QSize size)
{
    const QRectF outer = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5);
    const QRectF inner = outer.adjusted(1, 1, -1, -1);
    const bool down = face == ButtonFace::Down;
    const bool disabled = face == ButtonFace::Disabled;

    QLinearGradient fill(outer.topLeft(), outer.bottomLeft());
    if (down) {
        fill.setColorAt(0, QColor(0xc4, 0xc8, 0xcd));
        fill.setColorAt(1, QColor(0xdc, 0xdf, 0xe3));
    } else if (disabled) {
        fill.setColorAt(0, QColor(0xee, 0xef, 0xf0));
        fill.setColorAt(1, QColor(0xe4, 0xe5, 0xe7));
    } else {
        fill.setColorAt(0, QColor(0xfc, 0xfc, 0xfd));
        fill.setColorAt(1, QColor(0xd9, 0xdc, 0xe0));
    }
    painter.setPen(QPen(face == ButtonFace::Focused ? kFocus : disabled ? kFrameDisabled : kFrame, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(outer, 3, 3);

    // The bevel: light from the top left on a raised face, shade there on a
    // sunken one.
    QLinearGradient bevel(inner.topLeft(), inner.bottomRight());
    bevel.setColorAt(0, down ? QColor(0x8c, 0x91, 0x98) : QColor(Qt::white));
    bevel.setColorAt(1, down ? QColor(0xe8, 0xea, 0xec) : QColor(0xa9, 0xae, 0xb4));
    painter.setPen(QPen(QBrush(bevel), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inner, 2, 2);

    if (face == ButtonFace::Focused) {
        painter.setPen(QPen(kFocus, 1));
        painter.drawRoundedRect(inner, 2, 2);
        QPen dots(kSymbol, 1, Qt::DotLine);
        painter.setPen(dots);
        painter.drawRect(outer.adjusted(3, 3, -3, -3));
    }

    const QPointF centre(size.width() / 2.0 + (down ? 1 : 0), size.height() / 2.0 + (down ? 1 : 0));
    const QPainterPath symbol = transportSymbol(button, centre);
    painter.setPen(Qt::NoPen);
    if (disabled) {
        painter.setBrush(Qt::white);
        painter.drawPath(symbol.translated(1, 1));
        painter.setBrush(kSymbolDisabled);
    } else {
        painter.setBrush(kSymbol);
    }
    painter.drawPath(symbol);
}

void drawFlag(QPainter& painter, int number)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPole);
    painter.drawRect(QRectF(1, 0, 1, 14));

    const QRectF cloth(2.5, 0.5, 9, 9);
    painter.setPen(QPen(kFlagEdge, 1));
    painter.setBrush(kFlag);
    painter.drawRect(cloth);
    if (number < 1 || number > 5)
        return;
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(9);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(cloth.adjusted(0.5, 0, 0, 0), Qt::AlignCenter, QString::number(number));
}

// The begin marker's shape: a wedge whose upright side is its right edge. The
// outline is the wedge in the edge colour under a wedge one pixel smaller, so
// that the upright side covers its pixel column fully.
void drawMarker(QPainter& painter, const QColor& fill, const QColor& edge, bool mirrored)
{
    const QSize size = PanelArtwork::markerSize();
    if (mirrored) {
        painter.translate(size.width(), 0);
        painter.scale(-1, 1);
    }
    const qreal w = size.width();
    const qreal h = size.height();
    const qreal slope = std::hypot(w, h);
    painter.setPen(Qt::NoPen);
    painter.setBrush(edge);
    painter.drawPolygon(triangle({w, 0}, {w, h}, {0, h}));
    painter.setBrush(fill);
    painter.drawPolygon(triangle({w - 1, (h + slope) / w}, {w - 1, h - 1}, {(w + slope) / h, h - 1}));
}

} // namespace

namespace PanelArtwork {

QSize transportSize(TransportButton button)
{
    return button == TransportButton::Play ? QSize(64, 32) : QSize(32, 32);
}

QPixmap transportFace(TransportButton button, ButtonFace face, qreal devicePixelRatio)
{
    const QSize size = transportSize(button);
    return cachedPicture(QStringLiteral("transport-%1-%2").arg(int(button)).arg(int(face)), size, devicePixelRatio,
                         [&](QPainter& painter) { drawTransportFace(painter, button, face, size); });
}

QSize flagSize()
{
    return QSize(12, 14);
}

QPixmap indexFlag(int number, qreal devicePixelRatio)
{
    if (number < 0 || number > 5)
        number = 0;
    return cachedPicture(QStringLiteral("flag-%1").arg(number), flagSize(), devicePixelRatio,
                         [number](QPainter& painter) { drawFlag(painter, number); });
}

QPixmap crossMark(qreal devicePixelRatio)
{
    return cachedPicture(QStringLiteral("cross"), flagSize(), devicePixelRatio, [](QPainter& painter) {
        painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(2.5, 3.5), QPointF(9.5, 10.5));
        painter.drawLine(QPointF(9.5, 3.5), QPointF(2.5, 10.5));
    });
}

QSize markerSize()
{
    return QSize(10, 13);
}

QPixmap beginMarker(qreal devicePixelRatio)
{
    return cachedPicture(QStringLiteral("begin"), markerSize(), devicePixelRatio,
                         [](QPainter& painter) { drawMarker(painter, kBegin, kBeginEdge, false); });
}

QPixmap endMarker(qreal devicePixelRatio)
{
    return cachedPicture(QStringLiteral("end"), markerSize(), devicePixelRatio,
                         [](QPainter& painter) { drawMarker(painter, kEnd, kEndEdge, true); });
}

QPixmap protectIcon(qreal devicePixelRatio)
{
    return cachedPicture(QStringLiteral("protect"), QSize(32, 32), devicePixelRatio, [](QPainter& painter) {
        painter.fillRect(QRectF(0, 0, 32, 32), Qt::white);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawRoundedRect(QRectF(1, 7, 30, 18), 6, 6);

        QPainterPath key;
        key.addEllipse(QPointF(9.5, 16), 4.5, 4.5);
        QPainterPath shaft;
        shaft.addRect(QRectF(13, 14.5, 13.5, 3));
        shaft.addRect(QRectF(19.5, 17, 2.5, 3.5));
        shaft.addRect(QRectF(23.5, 17, 3, 4.5));
        key = key.united(shaft);
        QPainterPath hole;
        hole.addEllipse(QPointF(8.5, 16), 1.8, 1.8);
        painter.setBrush(Qt::white);
        painter.drawPath(key.subtracted(hole));
    });
}

} // namespace PanelArtwork
