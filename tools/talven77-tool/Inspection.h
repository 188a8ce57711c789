#pragma once

#include <QJsonObject>
#include <QString>

// What inspect prints for one file: its path, whether a recording header was
// found, and either the header's fields and the duration or the reason
// ("error") why not. found tells the same as the object's "found".
QJsonObject InspectRecording(const QString& path, bool& found);
