#pragma once

#include <QString>
#include <memory>

// The parts of the UDisks2 service that releasing a card needs. The program
// talks to the service on the system bus; tests script the answers.
class UDisksApi
{
public:
    enum class Outcome { Done, Busy, NotMounted, Failed };

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

// The UDisks2 service on the system bus.
std::unique_ptr<UDisksApi> CreateSystemUDisks();
