#include "DesktopIdentity.h"

#include "platform/ProgramIdentity.h"

#include <QApplication>
#include <QIcon>

void InstallDesktopIdentity()
{
    QGuiApplication::setDesktopFileName(kDesktopEntryName);
    const QIcon builtIn(QStringLiteral(":/icons/%1.svg").arg(kDesktopEntryName));
    QApplication::setWindowIcon(QIcon::fromTheme(kDesktopEntryName, builtIn));
}
