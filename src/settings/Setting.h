#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// The user's settings, held once by the application. Filled from the "Settings"
// section of the settings store at start-up and written back only when the user
// confirms the settings dialog.
class CSetting
{
public:
    static constexpr int kDisplayItems = 10; // name, start time, duration, size, mode,
                                             // protect, index, played, transferred, memo
    static constexpr int kPasswordCharacters = 20;

    // Empty save path and password, every column and the row-number strip shown,
    // automatic transfer and the password off. The save path's default comes with Load.
    CSetting();

    // Reads every value; a missing value takes its default silently.
    void Load();
    // Writes every value, in the order SavePath, Password, DisplayItem1..10,
    // Number, AutoUsb, UsePassword. False when the store could not be written.
    bool Save() const;

    // The settings dialog's part: runDialog edits a copy of the settings and
    // returns the dialog's result. On OK (1) the copy is taken over and saved
    // (saved, when given, tells whether the store took it); on any other
    // result nothing changes. Returns the dialog's result.
    using DialogRunner = std::function<int(CSetting& edited)>;
    int RunSettingsDialog(const DialogRunner& runDialog, bool* saved = nullptr);

    static QString DefaultSavePath();

    QString m_strSavePath;
    QString m_strPassword;
    int m_nDisplayItem[kDisplayItems];
    int m_nNumber = 1;
    int m_nAutoUsb = 0;
    int m_nUsePassword = 0;
};

// Whether two passwords are the same as stored: compared as their CP932 bytes,
// so that a character CP932 keeps in another form ("£" comes back as "￡",
// "〜" as "～") still matches after a restart; exact text where either cannot
// be stored.
bool SamePassword(const QString& entered, const QString& password);

// The password's stored form: byte i is XORed with (n - i + 33) mod 256, n being
// the byte count. Applying it twice gives the bytes back.
QByteArray ScramblePassword(const QByteArray& bytes);
