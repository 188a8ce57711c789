#pragma once

#include <QString>

// Writes a small sysfs tree below root: the recorder on USB (sdb, 8:16/8:17),
// a USB card reader (sdc, 8:32/8:33), an SD/MMC slot (mmcblk0, 179:0/179:1) and
// a fixed NVMe disk (nvme0n1, 259:0/259:1), each with one partition.
bool WriteFakeSysfs(const QString& root);
