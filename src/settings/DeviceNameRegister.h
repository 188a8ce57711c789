#pragma once

#include <QString>
#include <vector>

// One entry of the recorder-name register.
struct tag_DEVICE_NAME
{
    QString strNumber; // three digits, "001" to "999"
    QString strName;   // at most 20 CP932 bytes
};

// The register as its dialog shows it: every stored entry with a number, in
// stored order; entries whose number is empty are left out.
std::vector<tag_DEVICE_NAME> ReadDeviceNameRegister();
// Replaces the register: "Count", then "ItemNo%d" and "ItemName%d" of each
// entry in the given order. Values above the new count stay but are never read.
// False when the store could not be written.
bool WriteDeviceNameRegister(const std::vector<tag_DEVICE_NAME>& entries);
