#pragma once

#include "VoiceHeader.h"

#include <QString>
#include <QTypeInfo>
#include <cstdint>

// One recording as listed, copied by value.
struct tagFileList
{
    QString szFileName;    // file name without folder
    QString szFilePath;    // full path of the file
    int64_t tmCreate = 0;  // creation time, seconds since 1970 (see RecordingFile::creationTime)
    uint32_t nDuration = 0; // whole seconds
    uint32_t nFileSize = 0; // low 32 bits of the size
    tagVoiceHeader header{};
};

// Texts and plain bytes: a list that grows moves its records as they are, without
// copying each one.
Q_DECLARE_TYPEINFO(tagFileList, Q_RELOCATABLE_TYPE);
