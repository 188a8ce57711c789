#pragma once

// Ends the process with `status` once everything of the program's own has been
// destroyed: open C streams are flushed, then the process ends without running
// the exit-time destructors of the libraries.
//
// The multimedia library's sound-server engine is such a destructor: at exit it
// disconnects its connection from the main thread while the connection's own
// event thread is still running and may be dispatching a message from the
// server (for instance the sink's change after our stream closed), which aborts
// inside the client library now and then. Nothing is left to release at that
// point that the system does not take back itself.
//
// Callers make sure first that no file is left half-written and that settings
// are synced (QSettings objects destroyed, the application object destroyed).
// Under the address sanitizer the leak check runs here instead of at exit.
[[noreturn]] void EndProcess(int status);
