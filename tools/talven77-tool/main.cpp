#include "Commands.h"
#include "JsonLines.h"
#include "ToolApplication.h"
#include "platform/ProcessEnd.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

struct ToolCommand
{
    const char* name;
    // nullptr: the command is the play program's, run in the tool's place.
    int (*run)(const QStringList& arguments);
    // The command's synopsis and what it does, as the list of commands shows it.
    const char* usage;
};

const ToolCommand kCommands[] = {
    {"inspect", RunInspect,
     "  inspect FILE...                      the recording header and duration of each file\n"},
    {"edit", RunEdit,
     "  edit FILE... [--memo TEXT] [--protect on|off] [--played on|off]\n"
     "       [--transferred on|off] [--marks S,S,...]\n"
     "                                       change header fields of each file, keeping its\n"
     "                                       times; prints the header as inspect does; a mark\n"
     "                                       of 0 means an empty slot (no mark)\n"},
    {"scan", RunScan,
     "  scan FOLDER [--recursive]            the recordings of a folder, in scan order\n"
     "  scan --device ROOT                   the recordings of a recorder's card\n"},
    {"make-card", RunMakeCard,
     "  make-card FOLDER --number N [--recordings K] [--seed S] [--silences]\n"
     "                                       write a simulated card with real recordings\n"
     "                                       (--silences: longer ones, speech with pauses)\n"},
    {"search", RunSearch,
     "  search [TEXT] [--name TEXT] [--from DATE] [--to DATE] [--protected]\n"
     "       [--unplayed] [--untransferred] [FOLDER...]\n"
     "                                       the recordings whose memo holds TEXT, from the\n"
     "                                       index, refreshed for the folders and their\n"
     "                                       subfolders (the save folder by default);\n"
     "                                       DATE is YYYY-MM-DD, both ends included; TEXT\n"
     "                                       comes first (\"\" for none) when folders follow\n"},
    {"drives", RunDrives,
     "  drives                               the drives in use (real, or TALVEN77_DRIVES)\n"},
    {"play", nullptr,
     "  play FILE [--speed fast|normal|slow] [--from S] [--to E] [--volume V]\n"
     "                                       play a recording to the default audio output\n"},
    {"silences", RunSilences,
     "  silences FILE... [--threshold DB] [--min SECONDS]\n"
     "                                       the silent stretches of each recording (start and\n"
     "                                       end in seconds); threshold above its noise floor\n"},
    {"export", RunExport,
     "  export FILE... --to DIR [--section BEGIN-END | --marked-section] [--format mp3|wav]\n"
     "       [--title name|memo]\n"
     "                                       export recordings (or a section, in seconds; the\n"
     "                                       span from the first to the last index mark) as MP3\n"
     "                                       with chapters or as WAV; prints each output's path\n"},
};

bool IsHelp(const QString& argument)
{
    return argument == QStringLiteral("--help") || argument == QStringLiteral("-h");
}

void PrintUsage(std::FILE* stream)
{
    std::fputs("usage: talven77-tool COMMAND ...\n"
               "       talven77-tool COMMAND --help     the usage of one command\n",
               stream);
    for (const ToolCommand& command : kCommands)
        std::fputs(command.usage, stream);
}

// Runs the play program in this process's place, with the command's arguments as they
// were given; returns only when it could not be started. It lies beside the tool in the
// build tree, and in the package's libexec folder once installed.
int runPlayProgram(int argc, char* argv[])
{
    const QString toolFolder = QCoreApplication::applicationDirPath();
    QString path = toolFolder + QLatin1Char('/') + QLatin1String(kPlayProgram);
    if (!QFile::exists(path))
        path = QDir::cleanPath(toolFolder + QStringLiteral("/" TALVEN77_PLAY_FROM_BIN "/") + QLatin1String(kPlayProgram));
    const QByteArray program = QFile::encodeName(path);
    std::vector<char*> arguments{const_cast<char*>(program.constData())};
    for (int i = 2; i < argc; ++i)
        arguments.push_back(argv[i]);
    arguments.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(program.constData(), arguments.data());
    PrintError(QStringLiteral("play: cannot start %1: %2").arg(QFile::decodeName(program), QString::fromLocal8Bit(std::strerror(errno))));
    return 1;
}

int RunTool(int argc, char* argv[])
{
    ToolApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        PrintUsage(stderr);
        return 2;
    }
    if (IsHelp(arguments.first())) {
        PrintUsage(stdout);
        return 0;
    }
    const QString name = arguments.takeFirst();
    for (const ToolCommand& command : kCommands) {
        if (name != QLatin1String(command.name))
            continue;
        // Help is asked for in front of the command's own arguments, so that a
        // file or memo that happens to be called -h further on is still taken as one.
        if (!arguments.isEmpty() && IsHelp(arguments.first())) {
            std::fputs("usage of talven77-tool:\n", stdout);
            std::fputs(command.usage, stdout);
            return 0;
        }
        return command.run ? command.run(arguments) : runPlayProgram(argc, argv);
    }
    PrintError(QStringLiteral("unknown command: %1").arg(name));
    PrintUsage(stderr);
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
