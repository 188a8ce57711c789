#include "Setting.h"

#include "platform/Cp932.h"
#include "platform/ProgramIdentity.h"
#include "platform/SettingsNumber.h"

#include <QDir>

namespace {

const QString kSection = QStringLiteral("Settings");
const QString kSavePath = QStringLiteral("SavePath");
const QString kPassword = QStringLiteral("Password");
const QString kNumber = QStringLiteral("Number");
const QString kAutoUsb = QStringLiteral("AutoUsb");
const QString kUsePassword = QStringLiteral("UsePassword");

// A stored password longer than this is not one the program wrote; it is
// ignored rather than cut into a password nobody knows.
constexpr int kMaxStoredPasswordBytes = 99;

QString displayItemName(int n)
{
    return QStringLiteral("DisplayItem%1").arg(n);
}

// The stored password is kept as bytes so that a byte that scrambles to zero
// survives; a string value (written by another tool) is read as CP932 text.
QString loadPassword(const QVariant& stored)
{
    if (!stored.isValid())
        return {};
    QByteArray bytes = stored.typeId() == QMetaType::QByteArray
                           ? stored.toByteArray()
                           : UnicodeToCp932(stored.toString()).bytes;
    if (bytes.size() > kMaxStoredPasswordBytes)
        return {};
    bytes = ScramblePassword(bytes);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return Cp932ToUnicode(bytes);
}

} // namespace

bool SamePassword(const QString& entered, const QString& password)
{
    const Cp932Encoding a = UnicodeToCp932(entered);
    const Cp932Encoding b = UnicodeToCp932(password);
    if (a.ok() && b.ok())
        return a.bytes == b.bytes;
    return entered == password;
}

QByteArray ScramblePassword(const QByteArray& bytes)
{
    QByteArray result = bytes;
    const int n = int(bytes.size());
    for (int i = 0; i < n; ++i)
        result[i] = char(uint8_t(bytes[i]) ^ uint8_t((n - i + 33) % 256));
    return result;
}

CSetting::CSetting()
{
    for (int& item : m_nDisplayItem)
        item = 1;
}

QString CSetting::DefaultSavePath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Corvane\\TALVEN-77");
#else
    return QDir::homePath() + QStringLiteral("/Corvane/TALVEN-77");
#endif
}

void CSetting::Load()
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kSection);
    m_strSavePath = settings->value(kSavePath, DefaultSavePath()).toString();
    m_strPassword = loadPassword(settings->value(kPassword));
    for (int n = 1; n <= kDisplayItems; ++n)
        m_nDisplayItem[n - 1] = SettingsInt(*settings, displayItemName(n), 1);
    m_nNumber = SettingsInt(*settings, kNumber, 1);
    m_nAutoUsb = SettingsInt(*settings, kAutoUsb, 0);
    m_nUsePassword = SettingsInt(*settings, kUsePassword, 0);
}

bool CSetting::Save() const
{
    const auto settings = OpenProgramSettings();
    settings->beginGroup(kSection);
    settings->setValue(kSavePath, m_strSavePath);
    settings->setValue(kPassword, ScramblePassword(UnicodeToCp932(m_strPassword).bytes));
    for (int n = 1; n <= kDisplayItems; ++n)
        settings->setValue(displayItemName(n), m_nDisplayItem[n - 1]);
    settings->setValue(kNumber, m_nNumber);
    settings->setValue(kAutoUsb, m_nAutoUsb);
    settings->setValue(kUsePassword, m_nUsePassword);
    return SyncSettings(*settings);
}

int CSetting::RunSettingsDialog(const DialogRunner& runDialog, bool* saved)
{
    CSetting edited = *this;
    const int result = runDialog(edited);
    if (result == 1) {
        *this = edited;
        const bool written = Save();
        if (saved)
            *saved = written;
    }
    return result;
}
