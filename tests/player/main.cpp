#include "TestRegistry.h"
#include "platform/ProcessEnd.h"

#include <QApplication>

namespace {

int RunTests(int argc, char* argv[])
{
    QApplication app(argc, argv);
    return RunRegisteredTests(argc, argv);
}

} // namespace

int main(int argc, char* argv[])
{
    // These tests play through the sound server: end as the programs do, without
    // the multimedia library's exit-time disconnect racing its event thread.
    EndProcess(RunTests(argc, argv));
}
