#include "UDisks2.h"

#include "PaintOnlyWait.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kBlockDevicesPath = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
const QString kManager = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// The bus library ends a call that is not answered in time itself; this is
// how much longer the window waits for it to say so.
constexpr int kTimeoutGraceMs = 500;

// The object name UDisks2 gives a block device: characters other than letters,
// digits and '_' written as _xx.
QString escapedObjectName(const QString& name)
{
    QString out;
    for (const char c : name.toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')
            out.append(QLatin1Char(c));
        else
            out.append(QStringLiteral("_%1").arg(uint(uint8_t(c)), 2, 16, QLatin1Char('0')));
    }
    return out;
}

bool isTimeout(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ErrorMessage &&
           (reply.errorName() == QDBusError::errorString(QDBusError::NoReply) ||
            reply.errorName() == QDBusError::errorString(QDBusError::Timeout));
}

class BusUDisks final : public UDisksApi
{
public:
    explicit BusUDisks(const QDBusConnection& bus) : m_bus(bus) {}

    QString blockObject(const QString& deviceNode) override
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kManagerPath, kManager,
                                                           QStringLiteral("ResolveDevice"));
        call << QVariantMap{{QStringLiteral("path"), deviceNode}} << QVariantMap();
        const QDBusMessage reply = boundedCall(call);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().first());
            if (!paths.isEmpty())
                return paths.first().path();
        }
        // Older services lack ResolveDevice; their objects are named after the device.
        const QString guess =
            kBlockDevicesPath + escapedObjectName(QFileInfo(deviceNode).fileName());
        return property(guess, kBlock, QStringLiteral("Device")).isValid() ? guess : QString();
    }

    Outcome unmount(const QString& blockObject, QString* error) override
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, blockObject, kFilesystem,
                                                           QStringLiteral("Unmount"));
        call << QVariantMap();
        const QDBusMessage reply = boundedCall(call);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return Outcome::Done;
        if (error)
            *error = reply.errorMessage();
        if (isTimeout(reply))
            return timeLeft() >= kUDisksMinCallMs ? Outcome::Busy : Outcome::Failed;
        if (reply.errorName() == QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"))
            return Outcome::Busy;
        if (reply.errorName() == QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted"))
            return Outcome::NotMounted;
        return Outcome::Failed;
    }

    QString driveObject(const QString& blockObject) override
    {
        const QVariant drive = property(blockObject, kBlock, QStringLiteral("Drive"));
        const QString path = qdbus_cast<QDBusObjectPath>(drive).path();
        return path == QStringLiteral("/") ? QString() : path;
    }

    bool canEject(const QString& driveObject) override
    {
        return property(driveObject, kDrive, QStringLiteral("Ejectable")).toBool();
    }

    bool canPowerOff(const QString& driveObject) override
    {
        return property(driveObject, kDrive, QStringLiteral("CanPowerOff")).toBool();
    }

    bool eject(const QString& driveObject) override
    {
        return callDrive(driveObject, QStringLiteral("Eject"));
    }
    bool powerOff(const QString& driveObject) override
    {
        return callDrive(driveObject, QStringLiteral("PowerOff"));
    }

private:
    qint64 timeLeft() const { return kUDisksBudgetMs - m_spentMs; }

    // The call's answer, or a NoReply error when it did not come in time or
    // there was no time left to make it.
    QDBusMessage boundedCall(const QDBusMessage& call)
    {
        const qint64 left = timeLeft();
        if (left < kUDisksMinCallMs)
            return call.createErrorReply(
                QDBusError::NoReply, QStringLiteral("No time was left to ask the disk service."));
        const int timeout = int(qMin<qint64>(kUDisksCallMs, left));
        QElapsedTimer waited;
        waited.start();
        const QDBusPendingCall pending = m_bus.asyncCall(call, timeout);
        const bool answered =
            waitPaintingOnlyUntil([&] { return pending.isFinished(); }, timeout + kTimeoutGraceMs);
        m_spentMs += waited.elapsed();
        if (!answered)
            return call.createErrorReply(
                QDBusError::NoReply, QStringLiteral("The disk service did not answer in time."));
        return pending.reply();
    }

    QVariant property(const QString& object, const QString& interface, const QString& name)
    {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, object, kProperties, QStringLiteral("Get"));
        call << interface << name;
        const QDBusMessage reply = boundedCall(call);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
    }

    bool callDrive(const QString& driveObject, const QString& method)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, driveObject, kDrive, method);
        call << QVariantMap();
        return boundedCall(call).type() == QDBusMessage::ReplyMessage;
    }

    QDBusConnection m_bus;
    qint64 m_spentMs = 0; // waiting for answers; the pauses between attempts do not count
};

} // namespace

std::unique_ptr<UDisksApi> CreateSystemUDisks()
{
    return CreateUDisks(QDBusConnection::systemBus());
}

std::unique_ptr<UDisksApi> CreateUDisks(const QDBusConnection& bus)
{
    return std::make_unique<BusUDisks>(bus);
}
