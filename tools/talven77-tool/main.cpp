#include "Commands.h"
#include "JsonLines.h"
#include "platform/ProcessEnd.h"
#include "platform/ProgramIdentity.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

const char kUsage[] =
    "usage: talven77-tool COMMAND ...\n"
    "  inspect FILE...                      the recording header and duration of each file\n"
    "  edit FILE... [--memo TEXT] [--protect on|off] [--played on|off]\n"
    "       [--transferred on|off] [--marks S,S,...]\n"
    "                                       change header fields of each file, keeping its\n"
    "                                       times; prints the header as inspect does; a mark\n"
    "                                       of 0 means an empty slot (no mark)\n"
    "  scan FOLDER [--recursive]            the recordings of a folder, in scan order\n"
    "  scan --device ROOT                   the recordings of a recorder's card\n"
    "  make-card FOLDER --number N [--recordings K] [--silences]\n"
    "                                       write a simulated card with real recordings\n"
    "                                       (--silences: longer ones, speech with pauses)\n"
    "  search [TEXT] [--name TEXT] [--from DATE] [--to DATE] [--protected]\n"
    "       [--unplayed] [--untransferred] [FOLDER...]\n"
    "                                       the recordings whose memo holds TEXT, from the\n"
    "                                       index, refreshed for the folders and their\n"
    "                                       subfolders (the save folder by default);\n"
    "                                       DATE is YYYY-MM-DD, both ends included; TEXT\n"
    "                                       comes first (\"\" for none) when folders follow\n"
    "  drives                               the drives in use (real, or TALVEN77_DRIVES)\n"
    "  play FILE [--speed fast|normal|slow] [--from S] [--to E] [--volume V]\n"
    "                                       play a recording to the default audio output\n"
    "  silences FILE... [--threshold DB] [--min SECONDS]\n"
    "                                       the silent stretches of each recording (start and\n"
    "                                       end in seconds); threshold above its noise floor\n"
    "  export FILE... --to DIR [--section BEGIN-END | --marked-section] [--format mp3|wav]\n"
    "       [--title name|memo]\n"
    "                                       export recordings (or a section, in seconds; the\n"
    "                                       span from the first to the last index mark) as MP3\n"
    "                                       with chapters or as WAV; prints each output's path\n";

int RunTool(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(kCompanyName);
    QCoreApplication::setApplicationName(kProgramTitle);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty() || arguments.first() == QStringLiteral("--help")) {
        std::fputs(kUsage, arguments.isEmpty() ? stderr : stdout);
        return arguments.isEmpty() ? 2 : 0;
    }
    const QString command = arguments.takeFirst();
    if (command == QStringLiteral("inspect"))
        return RunInspect(arguments);
    if (command == QStringLiteral("edit"))
        return RunEdit(arguments);
    if (command == QStringLiteral("scan"))
        return RunScan(arguments);
    if (command == QStringLiteral("search"))
        return RunSearch(arguments);
    if (command == QStringLiteral("make-card"))
        return RunMakeCard(arguments);
    if (command == QStringLiteral("drives"))
        return RunDrives(arguments);
    if (command == QStringLiteral("play"))
        return RunPlay(arguments);
    if (command == QStringLiteral("silences"))
        return RunSilences(arguments);
    if (command == QStringLiteral("export"))
        return RunExport(arguments);
    PrintError(QStringLiteral("unknown command: %1").arg(command));
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    // A write beyond the file-size limit fails with EFBIG, as on a full disk,
    // instead of ending the tool.
    std::signal(SIGXFSZ, SIG_IGN);
    // Every command has closed its files and its audio output when it returns.
    EndProcess(RunTool(argc, argv));
}
