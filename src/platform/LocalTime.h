#pragma once

#include <QString>
#include <cstdint>

// Seconds since 1970 in local time with a strftime format (UTF-8: its text
// outside the fields is kept as it is); empty when the time cannot be
// converted or the result needs 128 bytes or more.
QString FormatLocalTime(int64_t seconds, const char* format);
