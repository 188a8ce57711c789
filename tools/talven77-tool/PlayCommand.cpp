#include "Commands.h"
#include "JsonLines.h"
#include "audio/Mp3Ctrl.h"
#include "recording/VoiceDuration.h"

#include <QCoreApplication>
#include <optional>

namespace {

std::optional<int> speedByName(const QString& name)
{
    if (name == QStringLiteral("fast"))
        return CMp3Ctrl::Fast;
    if (name == QStringLiteral("normal"))
        return CMp3Ctrl::Normal;
    if (name == QStringLiteral("slow"))
        return CMp3Ctrl::Slow;
    return std::nullopt;
}

} // namespace

int RunPlay(const QStringList& arguments)
{
    QString path;
    int speed = CMp3Ctrl::Normal;
    std::optional<uint64_t> from, to;
    std::optional<uint32_t> volume;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        bool ok = true;
        if (argument == QStringLiteral("--speed") && hasValue) {
            const auto chosen = speedByName(arguments[++i]);
            ok = chosen.has_value();
            speed = chosen.value_or(speed);
        } else if (argument == QStringLiteral("--from") && hasValue) {
            from = arguments[++i].toULongLong(&ok);
        } else if (argument == QStringLiteral("--to") && hasValue) {
            to = arguments[++i].toULongLong(&ok);
        } else if (argument == QStringLiteral("--volume") && hasValue) {
            volume = arguments[++i].toUInt(&ok);
            ok = ok && *volume <= 100;
        } else if (!argument.startsWith(u'-') && path.isEmpty()) {
            path = argument;
        } else {
            ok = false;
        }
        if (!ok) {
            PrintError(QStringLiteral("play: bad argument near %1").arg(argument));
            return 2;
        }
    }
    if (path.isEmpty()) {
        PrintError(QStringLiteral("usage: play FILE [--speed fast|normal|slow] [--from S] [--to E] [--volume V]"));
        return 2;
    }

    CMp3Ctrl engine;
    engine.SetSpeed(speed);
    if (volume)
        engine.SetVolume(*volume);
    // A file that cannot be decoded: the engine has said why. Without an audio output
    // the engine says so when asked to play, below.
    if (!engine.Open(path) && !g_bNoAudioOutput)
        return 1;
    if (from || to)
        engine.SetRange(from.value_or(0), to.value_or(engine.m_duration + 1));
    QObject::connect(&engine, &CMp3Ctrl::graphNotify, &engine, [&engine] {
        if (engine.DrainEvents())
            QCoreApplication::exit(0);
    });
    if (!engine.Play())
        return 1;
    return QCoreApplication::exec();
}
