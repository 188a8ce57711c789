// talven77-tool play, as a program of its own that the tool runs in its place.
#include "Commands.h"
#include "ToolApplication.h"
#include "platform/ProcessEnd.h"

#include <csignal>

int main(int argc, char* argv[])
{
    std::signal(SIGXFSZ, SIG_IGN);
    // The audio output is closed when the command returns.
    EndProcess([&] {
        ToolApplication app(argc, argv);
        return RunPlay(QCoreApplication::arguments().mid(1));
    }());
}
