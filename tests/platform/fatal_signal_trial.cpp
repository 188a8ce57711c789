// A program that installs the fatal-signal log as the player does and then ends by the
// signal named by its argument, for the log's tests (not a test itself):
//   fatal_signal_trial fault      writes through a bad pointer (SIGSEGV from the processor)
//   fatal_signal_trial abort      calls abort()
//   fatal_signal_trial SIGNUMBER  raises that signal
#include "platform/FatalSignalLog.h"

#include <QByteArray>
#include <QString>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

// Kept out of line so that the stack shows a frame of this program's own.
[[gnu::noinline]] void writeThroughBadPointer()
{
    // Not null (a sanitizer would report that itself and never fault), yet unmapped.
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fatal_signal_trial fault|abort|SIGNUMBER\n");
        return 2;
    }
    // No core files from the trials.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    InstallFatalSignalLog(QStringLiteral(TALVEN77_VERSION));
    const QByteArray how = argv[1];
    if (how == "fault")
        writeThroughBadPointer();
    else if (how == "abort")
        std::abort();
    else
        std::raise(how.toInt());
    return 0;
}
