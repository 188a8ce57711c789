#include "JapaneseUi.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallJapaneseUi(QApplication& app)
{
    QFont font = QApplication::font();
    // Latin text keeps the desktop's face; Japanese comes from Noto CJK.
    font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP")});
    QApplication::setFont(font);

    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}
