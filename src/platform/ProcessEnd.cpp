#include "ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

// GCC names the address sanitizer by a macro, Clang by a feature test.
#if defined(__SANITIZE_ADDRESS__)
#define TALVEN77_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TALVEN77_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(TALVEN77_ADDRESS_SANITIZER)
#include <sanitizer/lsan_interface.h>
#endif

void EndProcess(int status)
{
    std::fflush(nullptr);
#if defined(TALVEN77_ADDRESS_SANITIZER)
    // The leak checker normally runs at exit, which is skipped here: run it now
    // (it ends the process with its own status when something leaked).
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}
