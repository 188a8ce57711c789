#include "SplashWnd.h"

#include "SplashArtwork.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QScreen>

bool g_bSplashEnabled = false;

namespace {

QPointer<CSplashWnd> g_splash;

const QRect kStatusRect(40, 330, kSplashWidth - 15 - 40, 20);

QFont statusFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("sans-serif")});
    font.setPixelSize(12);
    return font;
}

} // namespace

CSplashWnd::CSplashWnd()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_picture(SplashPicture())
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(m_picture.size());
    setMask(QBitmap::fromImage(SplashMask()));
    setCursor(Qt::WaitCursor);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}

void CSplashWnd::setStatusText(const QString& text)
{
    m_status = text;
    repaint();
}

QString CSplashWnd::visibleStatusText() const
{
    return QFontMetrics(statusFont()).elidedText(m_status, Qt::ElideRight, kStatusRect.width());
}

void CSplashWnd::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
    QFont version;
    version.setFamilies({QStringLiteral("Ariel"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    version.setPixelSize(18);
    version.setBold(true);
    painter.setFont(version);
    painter.setPen(Qt::black);
    painter.drawText(QPoint(462, 306 + QFontMetrics(version).ascent()),
                     QStringLiteral("Ver.") + QStringLiteral(TALVEN77_VERSION));
    if (!m_status.isEmpty()) {
        painter.setFont(statusFont());
        painter.drawText(kStatusRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, visibleStatusText());
    }
}

void ShowSplashScreen()
{
    if (!g_bSplashEnabled || g_splash)
        return;
    g_splash = new CSplashWnd;
    g_splash->show();
    g_splash->repaint();
}

void SetSplashStatus(const QString& text)
{
    if (g_splash)
        g_splash->setStatusText(text);
}

CSplashWnd* SplashWindow()
{
    return g_splash;
}

void DestroySplashScreen()
{
    delete g_splash;
}

MessageAnswer SplashClosingMessages::present(const QString& text, MessageIcon icon, MessageButtons buttons)
{
    DestroySplashScreen();
    return previous().present(text, icon, buttons);
}
