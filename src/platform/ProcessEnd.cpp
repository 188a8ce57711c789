#include "ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

void EndProcess(int status)
{
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    // The leak checker normally runs at exit, which is skipped here: run it now
    // (it ends the process with its own status when something leaked).
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}
