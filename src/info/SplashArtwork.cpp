#include "SplashArtwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

QPainterPath outline()
{
    // A card with rounded corners and a tab on the upper left, like the recorder's screen.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 24, kSplashWidth, kSplashHeight - 24), 28, 28);
    QPainterPath tab;
    tab.addRoundedRect(QRectF(24, 0, 220, 60), 18, 18);
    return path.united(tab);
}

} // namespace

QImage SplashPicture()
{
    QImage image(kSplashWidth, kSplashHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, kSplashHeight);
    background.setColorAt(0.0, QColor(214, 232, 246));
    background.setColorAt(1.0, QColor(250, 252, 255));
    painter.fillPath(outline(), background);

    // A voice waveform across the middle.
    QPainterPath wave;
    for (int x = 40; x <= kSplashWidth - 40; ++x) {
        const double t = (x - 40) / double(kSplashWidth - 80);
        const double envelope = std::pow(std::sin(M_PI * t * 5.0), 2.0) * (0.4 + 0.6 * std::sin(M_PI * t));
        const double y = 190 + 60 * envelope * std::sin(x * 0.45) * std::cos(x * 0.07);
        if (x == 40)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    painter.setPen(QPen(QColor(40, 110, 170), 2.0));
    painter.drawPath(wave);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(44);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(20, 60, 100));
    painter.drawText(QRect(40, 64, kSplashWidth - 80, 60), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("TALVEN-77-PC Player"));
    QFont tabFont(QStringLiteral("DejaVu Sans"));
    tabFont.setPixelSize(18);
    painter.setFont(tabFont);
    painter.setPen(QColor(60, 90, 120));
    painter.drawText(QRect(40, 8, 200, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Corvane"));
    painter.setPen(QPen(QColor(120, 150, 180), 1.0));
    painter.drawPath(outline());
    return image;
}

QImage SplashMask()
{
    QImage canvas(kSplashWidth, kSplashHeight, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.fillPath(outline(), Qt::black);
    painter.end();
    return canvas.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
}
