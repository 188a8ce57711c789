#include "Commands.h"
#include "JsonLines.h"
#include "export/RecordingExport.h"

#include <QFileInfo>
#include <cmath>
#include <cstdio>

namespace {

const char kExportUsage[] =
    "usage: export FILE... --to DIR [--section BEGIN-END | --marked-section] [--format mp3|wav]"
    " [--title name|memo]";

// "BEGIN-END" in seconds (decimals allowed) as milliseconds.
std::optional<ExportSpan> parseSection(const QString& text)
{
    const QStringList parts = text.split(u'-');
    if (parts.size() != 2)
        return std::nullopt;
    bool beginOk = false, endOk = false;
    const double begin = parts[0].toDouble(&beginOk);
    const double end = parts[1].toDouble(&endOk);
    if (!beginOk || !endOk || !std::isfinite(begin) || !std::isfinite(end) || begin < 0 || end <= begin
        || end > 1e9)
        return std::nullopt;
    return ExportSpan{int64_t(std::llround(begin * 1000)), int64_t(std::llround(end * 1000))};
}

} // namespace

int RunExport(const QStringList& arguments)
{
    QStringList files;
    QString folder;
    ExportOptions options;
    bool marked = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        bool ok = true;
        if (argument == QStringLiteral("--to") && hasValue) {
            folder = arguments[++i];
        } else if (argument == QStringLiteral("--section") && hasValue && !marked) {
            options.section = parseSection(arguments[++i]);
            ok = options.section.has_value();
        } else if (argument == QStringLiteral("--marked-section") && !options.section) {
            marked = true;
        } else if (argument == QStringLiteral("--format") && hasValue) {
            const QString format = arguments[++i];
            ok = format == QStringLiteral("mp3") || format == QStringLiteral("wav");
            options.format = format == QStringLiteral("wav") ? ExportFormat::Wav : ExportFormat::Mp3;
        } else if (argument == QStringLiteral("--title") && hasValue) {
            const QString title = arguments[++i];
            ok = title == QStringLiteral("name") || title == QStringLiteral("memo");
            options.title = title == QStringLiteral("memo") ? ExportTitle::Memo : ExportTitle::FileName;
        } else if (!argument.startsWith(u'-')) {
            files.append(argument);
        } else {
            ok = false;
        }
        if (!ok) {
            PrintError(QStringLiteral("export: bad argument near %1").arg(argument));
            return 2;
        }
    }
    if (files.isEmpty() || folder.isEmpty()) {
        PrintError(QString::fromLatin1(kExportUsage));
        return 2;
    }
    if (!QFileInfo(folder).isDir()) {
        PrintError(QStringLiteral("export: %1 is not a folder").arg(folder));
        return 1;
    }
    int status = 0;
    for (const QString& file : files) {
        ExportOptions one = options;
        if (marked)
            one.section = MarkedSpan(file);
        const ExportResult result = ExportRecording(file, folder, one);
        if (!result.ok) {
            PrintError(QStringLiteral("%1: %2").arg(file, QString(result.error).replace(u'\n', u' ')));
            status = 1;
            continue;
        }
        std::printf("%s\n", result.outputPath.toUtf8().constData());
        std::fflush(stdout);
    }
    return status;
}
