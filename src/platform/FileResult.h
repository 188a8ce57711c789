#pragma once

#include <QString>

// The outcome of a file operation: errno of the failure (0 for success) and its text for the user.
struct FileResult
{
    int error = 0;
    bool ok() const { return error == 0; }
    QString message() const;   // the system's text for error in Japanese (SystemErrorText), empty when ok
};
