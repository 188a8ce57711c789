#pragma once

#include "platform/ProgramIdentity.h"

#include <QCoreApplication>

// The application object of the tool's processes, named as the program is, so that
// they read the program's settings and caches.
class ToolApplication : public QCoreApplication
{
public:
    ToolApplication(int& argc, char** argv) : QCoreApplication(argc, argv)
    {
        setOrganizationName(kCompanyName);
        setApplicationName(kProgramTitle);
    }
};

// The program that plays for `talven77-tool play`, beside the tool: only it loads the
// audio output's libraries, which would take most of every other command's start.
constexpr char kPlayProgram[] = "talven77-tool-play";
