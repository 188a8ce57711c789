#pragma once

#include "platform/MessageBoxes.h"

#include <QImage>
#include <QString>
#include <QWidget>

// The shaped, topmost start-up window with the version and one status line.
class CSplashWnd : public QWidget
{
    Q_OBJECT

public:
    CSplashWnd();

    void setStatusText(const QString& text);
    const QString& statusText() const { return m_status; }
    // The status text as it fits its line (cut with an ellipsis).
    QString visibleStatusText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
    QString m_status;
};

// Set by start-up; without it ShowSplashScreen does nothing.
extern bool g_bSplashEnabled;

// Creates and shows the splash window unless it exists already.
void ShowSplashScreen();
// Replaces the status line and repaints at once; nothing without a splash window.
void SetSplashStatus(const QString& text);
CSplashWnd* SplashWindow();
void DestroySplashScreen();

// While it lives, every message box first closes the splash window, which is
// topmost and would hide it; the presenter in place before shows the message.
class SplashClosingMessages final : public StackedMessagePresenter
{
public:
    MessageAnswer present(const QString& text, MessageIcon icon, MessageButtons buttons) override;
};
