#pragma once

#include <QString>
#include <cstdint>

// Seconds since 1970 in local time with a strftime format; empty when the
// time cannot be converted.
QString FormatLocalTime(int64_t seconds, const char* format);
