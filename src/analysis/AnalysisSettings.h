#pragma once

#include "Silences.h"

// The overview strip and silence skipping, kept in a section of their own
// ("Analysis") of the program's settings.
struct AnalysisSettings
{
    bool showOverview = true;
    bool skipSilence = false;
    SilenceOptions silence;

    // Missing or unusable values take their defaults, as do a threshold outside
    // 0-60 dB and a minimum outside 1-10 s.
    static AnalysisSettings Load();
    bool save() const;
};
