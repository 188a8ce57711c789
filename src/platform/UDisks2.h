#pragma once

#include <QDBusConnection>
#include <QString>
#include <memory>

// The parts of the UDisks2 service that releasing a card needs. The program
// talks to the service on the system bus; tests script the answers or run a
// service of their own on a private bus.
class UDisksApi
{
public:
    enum class Outcome
    {
        Done,
        Busy,
        NotMounted,
        Failed
    };

    virtual ~UDisksApi() = default;
    // The block device's object, or empty when the service does not know it.
    virtual QString blockObject(const QString& deviceNode) = 0;
    // Unmounts the block device's file system; the service flushes it first.
    virtual Outcome unmount(const QString& blockObject, QString* error) = 0;
    // The drive the block device is on, or empty.
    virtual QString driveObject(const QString& blockObject) = 0;
    virtual bool canEject(const QString& driveObject) = 0;
    virtual bool canPowerOff(const QString& driveObject) = 0;
    virtual bool eject(const QString& driveObject) = 0;
    virtual bool powerOff(const QString& driveObject) = 0;
};

// Each call on the bus holds the window (it keeps painting, takes no input)
// until the answer comes, so every call is bounded: one call waits at most
// kUDisksCallMs, and all the calls of one UDisksApi object together wait at
// most kUDisksBudgetMs; a call for which less than kUDisksMinCallMs is left is
// not made and fails. One object serves one removal, so a removal spends at
// most about six seconds waiting for the service, plus the pauses between
// unmount attempts; a service that never answers gets three unmount attempts.
//
// An unmount that is not answered in time counts as busy, as long as there is
// time for another attempt: the service goes on flushing and unmounting, and
// the next attempt finds the file system not mounted once it has finished.
// With no time left it fails; the card may still be unmounted a moment later.
inline constexpr int kUDisksCallMs = 2000;
inline constexpr int kUDisksBudgetMs = 6000;
inline constexpr int kUDisksMinCallMs = 250;

// The UDisks2 service on the system bus.
std::unique_ptr<UDisksApi> CreateSystemUDisks();
// The service on the given bus.
std::unique_ptr<UDisksApi> CreateUDisks(const QDBusConnection& bus);
