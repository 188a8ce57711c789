#include "SystemErrorText.h"

#include <clocale>
#include <cstring>
#include <locale.h>

namespace {

// Made once and kept for the life of the process: strerror_l() may hand back a
// text that lives in the locale object.
locale_t japaneseLocale()
{
    static const locale_t locale =
        ::newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, "ja_JP.UTF-8", locale_t(0));
    return locale;
}

} // namespace

QString SystemErrorText(int error)
{
    if (const locale_t locale = japaneseLocale())
        // With the locale's character set UTF-8, the catalogue's text comes out in UTF-8.
        return QString::fromUtf8(::strerror_l(error, locale));
    char buffer[256];
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

bool HasJapaneseSystemErrors()
{
    return japaneseLocale() != locale_t(0);
}
