#include "FileResult.h"

#include "SystemErrorText.h"

QString FileResult::message() const
{
    if (ok())
        return {};
    return SystemErrorText(error);
}
