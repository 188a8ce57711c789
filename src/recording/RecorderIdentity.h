#pragma once

#include <QString>
#include <cstdint>

// A drive is the root folder of a mounted volume, without a trailing separator.

// The recorder number from the drive's "Device.Dat", or 0 when the file is
// missing, unreadable, shorter than 512 bytes or not the recorder's.
uint16_t ReadRecorderNumber(const QString& drive);

// "%03d_TALVEN-77": the recorder's recording folder on its card.
QString RecorderFolderName(uint16_t number);
// The recording folder below a drive root, with a trailing separator.
QString RecorderFolderPath(const QString& drive, uint16_t number);

// The name registered for the number in the recorder-name register
// ("DeviceName" settings section), or the number as "%03d" when none is.
QString LookUpRecorderName(uint16_t number);
// The recorder-name register holds one entry per number its dialog accepts
// (001 to 999): a stored "Count" is never followed further.
inline constexpr int kRecorderNameRegisterCapacity = 999;
