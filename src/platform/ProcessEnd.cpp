#include "ProcessEnd.h"

#include <cstdio>
#include <cstdlib>

void EndProcess(int status)
{
    std::fflush(nullptr);
    std::_Exit(status);
}
