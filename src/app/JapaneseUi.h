#pragma once

class QApplication;

// Japanese for Qt's own texts (standard buttons and dialogs) and a real CJK
// face for Japanese glyphs. Returns whether Qt's Japanese translation was found.
bool InstallJapaneseUi(QApplication& app);
