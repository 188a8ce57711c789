#include "platform/ProgramIdentity.h"
#include "platform/WidgetMessagePresenter.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(kCompanyName);
    QApplication::setApplicationName(kProgramTitle);
    QApplication::setApplicationVersion(QStringLiteral(TALVEN77_VERSION));

    // The main window, its document and view come in later; for now a plain frame.
    QMainWindow window;
    window.setWindowTitle(kProgramTitle);
    window.setMinimumSize(850, 530);
    WidgetMessagePresenter presenter(&window);
    SetMessagePresenter(&presenter);
    window.show();
    const int status = app.exec();
    SetMessagePresenter(nullptr);
    return status;
}
