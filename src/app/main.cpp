#include "JapaneseUi.h"
#include "TALVEN77PCApp.h"
#include "platform/ProgramIdentity.h"
#include "platform/WidgetMessagePresenter.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(kCompanyName);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setApplicationVersion(QStringLiteral(TALVEN77_VERSION));
    InstallJapaneseUi(app);
    WidgetMessagePresenter messages;
    SetMessagePresenter(&messages);

    int status = 0;
    {
        CTALVEN77PCApp program;
        if (program.InitInstance())
            status = QApplication::exec();
    }
    SetMessagePresenter(nullptr);
    return status;
}
