#pragma once

#include <QString>

// The text of an operating-system error number (errno) in Japanese, from the C
// library's own message catalogue. Where the ja_JP.UTF-8 locale is not
// installed the C library's English text is given instead; an unknown number
// still gets the library's "unknown error" text. Safe from any thread.
QString SystemErrorText(int error);

// Whether SystemErrorText() can give Japanese texts on this machine.
bool HasJapaneseSystemErrors();
