#include "TreeImages.h"

#include "document/FolderTree.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor kOutline(60, 60, 60);

QPainterPath polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

void drawSpeaker(QPainter& p)
{
    const QPainterPath body = polygon({{2, 6}, {5, 6}, {9, 2.5}, {9, 13.5}, {5, 10}, {2, 10}});
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(90, 110, 140));
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 90, 180), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(7.5, 5, 4, 6), -50 * 16, 100 * 16);
    p.drawArc(QRectF(7, 3, 7, 10), -50 * 16, 100 * 16);
}

void drawCard(QPainter& p)
{
    // An SD card: a blue body with a cut corner and gold contacts.
    const QPainterPath card = polygon({{3.5, 1.5}, {10.5, 1.5}, {13.5, 4.5}, {13.5, 14.5}, {3.5, 14.5}});
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(40, 80, 160));
    p.drawPath(card);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 190, 60));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(4.5 + i * 2, 2.5, 1.2, 3));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(5, 8, 7, 4));
}

void drawDrive(QPainter& p)
{
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(200, 200, 205));
    p.drawRoundedRect(QRectF(1.5, 5.5, 13, 6), 1.5, 1.5);
    p.setBrush(QColor(160, 160, 168));
    p.drawRect(QRectF(1.5, 9.5, 13, 2));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 190, 60));
    p.drawEllipse(QRectF(11.5, 7, 1.8, 1.8));
}

void drawFolder(QPainter& p, bool open)
{
    p.setPen(QPen(QColor(150, 110, 20), 0.8));
    p.setBrush(QColor(235, 190, 70));
    p.drawPath(polygon({{1.5, 3.5}, {6, 3.5}, {7.5, 5}, {14.5, 5}, {14.5, 13.5}, {1.5, 13.5}}));
    p.setBrush(QColor(250, 215, 110));
    if (open) {
        p.drawPath(polygon({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
    } else {
        p.drawRect(QRectF(1.5, 6.5, 13, 7));
    }
}

void drawTelephone(QPainter& p)
{
    // A handset resting on a desk telephone.
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(70, 70, 75));
    p.drawPath(polygon({{3, 8}, {13, 8}, {15, 14.5}, {1, 14.5}}));
    QPainterPath handset;
    handset.moveTo(1.5, 6.5);
    handset.cubicTo(2, 1.5, 14, 1.5, 14.5, 6.5);
    handset.lineTo(11.5, 6.5);
    handset.cubicTo(11, 4.5, 5, 4.5, 4.5, 6.5);
    handset.closeSubpath();
    p.drawPath(handset);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 220, 220));
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column)
            p.drawRect(QRectF(5 + column * 2.2, 9.5 + row * 2.2, 1.3, 1.3));
    }
}

QPixmap drawImage(int image, int scale)
{
    QPixmap pixmap(16 * scale, 16 * scale);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (image) {
    case kImageTop:
        drawSpeaker(p);
        break;
    case kImageCard:
        drawCard(p);
        break;
    case kImageSave:
        drawDrive(p);
        break;
    case kImageFolderOpen:
        drawFolder(p, true);
        break;
    case kImageRecorder:
        drawTelephone(p);
        break;
    default:
        drawFolder(p, false);
        break;
    }
    return pixmap;
}

} // namespace

QIcon TreeImage(int image)
{
    QIcon icon;
    icon.addPixmap(drawImage(image, 1));
    icon.addPixmap(drawImage(image, 2));
    return icon;
}
