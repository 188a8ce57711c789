#include "ToolbarArtwork.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>

namespace {

// Everything is drawn on a 16×16 grid scaled to the target rectangle.
constexpr qreal kGrid = 16.0;

const QColor kOutline(0x30, 0x30, 0x30);
const QColor kSteel(0x9a, 0xa4, 0xae);
const QColor kHandle(0xc0, 0x20, 0x20);
const QColor kArrow(0x1f, 0x8f, 0x3a);
const QColor kScreen(0xb8, 0xe0, 0xf0);

void drawScissors(QPainter& p)
{
    // Two blades crossing at the pivot, their handles as rings below.
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(kSteel);
    QPainterPath left;
    left.moveTo(6.3, 9.6);
    left.lineTo(11.6, 0.8);
    left.lineTo(12.2, 1.6);
    left.lineTo(7.6, 10.3);
    left.closeSubpath();
    QPainterPath right;
    right.moveTo(9.7, 9.6);
    right.lineTo(4.4, 0.8);
    right.lineTo(3.8, 1.6);
    right.lineTo(8.4, 10.3);
    right.closeSubpath();
    p.drawPath(left);
    p.drawPath(right);
    p.setPen(QPen(kHandle, 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(4.6, 12.4), 2.3, 2.3);
    p.drawEllipse(QPointF(11.4, 12.4), 2.3, 2.3);
    p.setPen(Qt::NoPen);
    p.setBrush(kOutline);
    p.drawEllipse(QPointF(8.0, 6.4), 0.9, 0.9);
}

void drawEject(QPainter& p)
{
    // A triangle pointing up over a bar.
    p.setPen(QPen(kOutline, 0.8, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(QColor(0x40, 0x60, 0x90));
    const QPointF triangle[] = {{8.0, 1.5}, {14.5, 9.0}, {1.5, 9.0}};
    p.drawPolygon(triangle, 3);
    p.drawRect(QRectF(1.5, 11.0, 13.0, 3.0));
}

void drawTransfer(QPainter& p)
{
    // The recorder (a slim body with a display and a speaker grille), an arrow
    // leaving it to the right.
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(0x50, 0x50, 0x58));
    p.drawRoundedRect(QRectF(1.0, 0.8, 6.2, 14.4), 1.4, 1.4);
    p.setBrush(kScreen);
    p.drawRect(QRectF(2.2, 2.2, 3.8, 3.0));
    p.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), 0.7));
    for (const qreal y : {8.2, 9.8, 11.4})
        p.drawLine(QPointF(2.6, y), QPointF(5.6, y));
    p.setPen(QPen(kOutline, 0.8, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(kArrow);
    const QPointF arrow[] = {{8.2, 6.4},   {11.4, 6.4}, {11.4, 3.8}, {15.4, 8.0},
                             {11.4, 12.2}, {11.4, 9.6}, {8.2, 9.6}};
    p.drawPolygon(arrow, 7);
}

using Drawing = void (*)(QPainter&);

class DrawnIconEngine final : public QIconEngine
{
public:
    explicit DrawnIconEngine(Drawing drawing) : m_drawing(drawing) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        // Drawn at the painter's device resolution: through a pixmap of that many pixels.
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap picture = pixmap(rect.size() * ratio, mode, state);
        picture.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, picture);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override
    {
        // size is in device pixels: the shapes are drawn at that size, never scaled from another.
        QPixmap picture(size);
        picture.fill(Qt::transparent);
        {
            QPainter p(&picture);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size.width() / kGrid, size.height() / kGrid);
            m_drawing(p);
        }
        if (mode == QIcon::Disabled || mode == QIcon::Selected) {
            QStyleOption option;
            option.palette = QApplication::palette();
            return QApplication::style()->generatedIconPixmap(mode, picture, &option);
        }
        return picture;
    }

    QIconEngine* clone() const override { return new DrawnIconEngine(m_drawing); }
    QString key() const override { return QStringLiteral("talven77-drawn"); }

private:
    Drawing m_drawing;
};

} // namespace

namespace ToolbarArtwork {

QIcon icon(Command command)
{
    switch (command) {
    case Command::Cut:
        return QIcon(new DrawnIconEngine(drawScissors));
    case Command::Eject:
        return QIcon(new DrawnIconEngine(drawEject));
    case Command::Transfer:
        return QIcon(new DrawnIconEngine(drawTransfer));
    default:
        return {};
    }
}

} // namespace ToolbarArtwork
