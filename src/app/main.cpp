#include "DesktopIdentity.h"
#include "JapaneseUi.h"
#include "TALVEN77PCApp.h"
#include "platform/FatalSignalLog.h"
#include "platform/ProcessEnd.h"
#include "platform/ProgramIdentity.h"
#include "platform/WidgetMessagePresenter.h"

#include <QApplication>
#include <csignal>

namespace {

int RunProgram(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(kCompanyName);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setApplicationVersion(QStringLiteral(TALVEN77_VERSION));
    InstallJapaneseUi(app);
    InstallDesktopIdentity();
    WidgetMessagePresenter messages;
    SetMessagePresenter(&messages);

    int status = 0;
    {
        CTALVEN77PCApp program;
        if (program.InitInstance(PathsToOpen(QCoreApplication::arguments().mid(1))))
            status = QApplication::exec();
    }
    SetMessagePresenter(nullptr);
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    // A crash leaves its stack in the user's state folder, so that a window that vanished
    // can be told about.
    InstallFatalSignalLog(QStringLiteral(TALVEN77_VERSION));
    // A write beyond the file-size limit fails with EFBIG, as on a full disk,
    // instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // The program, its audio output and its settings (saved as each QSettings
    // goes) are all gone when RunProgram returns, and the application object
    // with them.
    EndProcess(RunProgram(argc, argv));
}
