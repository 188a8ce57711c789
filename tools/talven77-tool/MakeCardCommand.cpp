#include "CardBuilder.h"
#include "Commands.h"
#include "JsonLines.h"

int RunMakeCard(const QStringList& arguments)
{
    CardOptions options;
    bool numberGiven = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        bool ok = true;
        if (argument == QStringLiteral("--number") && hasValue) {
            const uint number = arguments[++i].toUInt(&ok);
            ok = ok && number >= 1 && number <= 65535;
            options.number = uint16_t(number);
            numberGiven = ok;
        } else if (argument == QStringLiteral("--recordings") && hasValue) {
            options.recordings = arguments[++i].toInt(&ok);
            ok = ok && options.recordings >= 0 && options.recordings <= 9999;
        } else if (argument == QStringLiteral("--silences")) {
            options.silences = true;
        } else if (argument == QStringLiteral("--seed") && hasValue) {
            options.seed = arguments[++i].toUInt(&ok);
        } else if (!argument.startsWith(u'-') && options.folder.isEmpty()) {
            options.folder = argument;
        } else {
            ok = false;
        }
        if (!ok) {
            PrintError(QStringLiteral("make-card: bad argument near %1").arg(argument));
            return 2;
        }
    }
    if (options.folder.isEmpty() || !numberGiven) {
        PrintError(QStringLiteral(
            "usage: make-card FOLDER --number N (1-65535) [--recordings K] [--seed S] [--silences]"));
        return 2;
    }
    QString error;
    if (!MakeCard(options, &error)) {
        PrintError(error);
        return 1;
    }
    return 0;
}
