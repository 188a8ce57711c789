#include "LocalTime.h"

#include <ctime>

QString FormatLocalTime(int64_t seconds, const char* format)
{
    const time_t t = time_t(seconds);
    struct tm local {};
    char text[128] = "";
    if (!localtime_r(&t, &local) || std::strftime(text, sizeof text, format, &local) == 0)
        return {};
    return QString::fromUtf8(text);
}
