#pragma once

#include <QString>

// A record of the program's sudden end: when a fatal signal arrives (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT), a few lines go to the log file below, the program's version,
// the signal and the stack among them, before the signal takes its course as it would
// have without the handler (a core dump, the shell's "Segmentation fault"; under a
// sanitizer its own report). Entries are appended; the file is made only by a crash.
//
// Everything the handler needs (the path, the version line) is prepared when it is
// installed: after a fault only calls that are safe in a signal handler are made.
//
// The log lies in the user's state folder: $XDG_STATE_HOME, else ~/.local/state, under
// "Corvane/TALVEN-77-PC Player/crash.log", beside the program's settings, data and cache
// folders of the same names.
QString FatalSignalLogPath();

// Installs the handler for the program's version; a second call only updates what it writes.
void InstallFatalSignalLog(const QString& programVersion);
