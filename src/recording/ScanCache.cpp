#include "ScanCache.h"

namespace {

ScanCache* g_scanCache = nullptr;

} // namespace

void SetScanCache(ScanCache* cache)
{
    g_scanCache = cache;
}

ScanCache* CurrentScanCache()
{
    return g_scanCache;
}
