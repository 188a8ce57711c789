#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// What the harnesses share: a scratch folder of the fuzzing process's own (removed at
// its end), files in it holding an input, and a check whose failure is a finding.

// The scratch folder; made at the first call.
QString FuzzScratchFolder();
// Writes bytes to name in the scratch folder, replacing what it held; its path.
QString WriteFuzzFile(const QString& name, const uint8_t* data, size_t size);
QByteArray ReadFuzzFile(const QString& path);

// A property every input must keep; its failure ends the run as a crash would, so that
// the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (false)
