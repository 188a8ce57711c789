#include "SystemInfo.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextStream>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

const QString kCpuError = QStringLiteral("Cpu Info Get Error");

// "key: value" lines of a /proc file (the first processor's block for cpuinfo).
QMap<QString, QString> readKeyValues(const QString& path, QChar separator)
{
    QMap<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    QTextStream in(&file);
    for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
        if (line.trimmed().isEmpty() && !values.isEmpty())
            break; // the first processor is enough
        const qsizetype at = line.indexOf(separator);
        if (at > 0 && !values.contains(line.left(at).trimmed()))
            values.insert(line.left(at).trimmed(), line.mid(at + 1).trimmed());
    }
    return values;
}

QString unquote(QString text)
{
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"'))
        text = text.mid(1, text.size() - 2);
    return text;
}

QStringList osTexts()
{
    const auto release = readKeyValues(QStringLiteral("/etc/os-release"), u'=');
    struct utsname names {};
    uname(&names);
    const QString name = release.contains(QStringLiteral("PRETTY_NAME")) ? unquote(release.value(QStringLiteral("PRETTY_NAME")))
                                                                          : QString::fromLocal8Bit(names.sysname);
    const QStringList kernel = QString::fromLocal8Bit(names.release).split(QRegularExpression(QStringLiteral("[^0-9]+")));
    const int major = kernel.value(0).toInt(), minor = kernel.value(1).toInt(), build = kernel.value(2).toInt();
    return {name, QStringLiteral("Version %1.%2").arg(major).arg(minor), QStringLiteral("Build %1").arg(build),
            unquote(release.value(QStringLiteral("VERSION")))};
}

QStringList cpuTexts()
{
    const auto cpu = readKeyValues(QStringLiteral("/proc/cpuinfo"), u':');
    const QString processors = QStringLiteral("%1 Processor").arg(sysconf(_SC_NPROCESSORS_ONLN));
    if (cpu.isEmpty())
        return {kCpuError, kCpuError, kCpuError, kCpuError, processors};
    const QString identifier = QStringLiteral("Family %1 Model %2 Stepping %3")
                                   .arg(cpu.value(QStringLiteral("cpu family")), cpu.value(QStringLiteral("model")),
                                        cpu.value(QStringLiteral("stepping")));
    return {cpu.value(QStringLiteral("vendor_id")), identifier, cpu.value(QStringLiteral("model name")),
            QStringLiteral("%1 MHz").arg(int(cpu.value(QStringLiteral("cpu MHz")).toDouble())), processors};
}

QStringList memoryTexts()
{
    struct sysinfo info {};
    sysinfo(&info);
    const uint64_t unit = info.mem_unit ? info.mem_unit : 1;
    const uint64_t total = uint64_t(info.totalram) * unit;
    const auto meminfo = readKeyValues(QStringLiteral("/proc/meminfo"), u':');
    const uint64_t available = meminfo.contains(QStringLiteral("MemAvailable"))
                                   ? meminfo.value(QStringLiteral("MemAvailable")).section(u' ', 0, 0).toULongLong() * 1024
                                   : uint64_t(info.freeram) * unit;
    const uint64_t pagingTotal = total + uint64_t(info.totalswap) * unit;
    const uint64_t pagingFree = available + uint64_t(info.freeswap) * unit;
    // The process's address space: 47 bits for user space on today's 64-bit systems.
    const uint64_t virtualTotal = sizeof(void*) == 8 ? (uint64_t(1) << 47) : (uint64_t(3) << 30);
    const auto status = readKeyValues(QStringLiteral("/proc/self/status"), u':');
    const uint64_t virtualUsed = status.value(QStringLiteral("VmSize")).section(u' ', 0, 0).toULongLong() * 1024;
    const int load = total ? int((total - std::min(available, total)) * 100 / total) : 0;
    return {QStringLiteral("%1 %").arg(load),
            MegabyteText(total), MegabyteText(total - std::min(available, total)), MegabyteText(available),
            MegabyteText(pagingTotal), MegabyteText(pagingTotal - std::min(pagingFree, pagingTotal)), MegabyteText(pagingFree),
            MegabyteText(virtualTotal), MegabyteText(virtualUsed), MegabyteText(virtualTotal - std::min(virtualUsed, virtualTotal)),
            MegabyteText(0)};
}

} // namespace

QString MegabyteText(uint64_t bytes)
{
    return QString::asprintf("%4.1lf MB", double(bytes) / 1048576.0);
}

WindowsName WindowsOsName(int major, int minor, int platform)
{
    if (major == 3 && minor == 51)
        return {QStringLiteral("WindowsNT 3.51"), 0};
    if (major == 4 && minor == 0)
        return platform == 1 ? WindowsName{QStringLiteral("Windows 95"), 1} : WindowsName{QStringLiteral("Windows NT 4.0"), 2};
    if (major == 4 && minor == 10)
        return {QStringLiteral("Windows 98"), 1};
    if (major == 4 && minor == 90)
        return {QStringLiteral("Windows Me"), 1};
    if (major == 5) {
        switch (minor) {
        case 0:
            return {QStringLiteral("Windows 2000"), 2};
        case 1:
            return {QStringLiteral("Windows Xp"), 2};
        case 2:
            return {QStringLiteral("WindowsServer 2003 family"), 2};
        default:
            return {QStringLiteral("Windows"), 2};
        }
    }
    if (major == 6) {
        switch (minor) {
        case 0:
            return {QStringLiteral("Windows Vista"), 2};
        case 1:
            return {QStringLiteral("Windows 7"), 2};
        case 2:
            return {QStringLiteral("Windows 8"), 2};
        default:
            return {QStringLiteral("Windows"), 2};
        }
    }
    return {QStringLiteral("Windows"), 0};
}

QStringList SystemInfoLabels()
{
    return {QStringLiteral("OS Name"), QStringLiteral("OS Version"), QStringLiteral("Service Pack"),
            QStringLiteral("CPU Vendor"), QStringLiteral("CPU Identifier"), QStringLiteral("CPU Clock"),
            QStringLiteral("Core Num"), QStringLiteral("Processor Name"), QStringLiteral("Memory Load"),
            QStringLiteral("Totam Phys. Memory"), QStringLiteral("Use  Phys. Memory"), QStringLiteral("Free Phys.Memory"),
            QStringLiteral("Total Paging File"), QStringLiteral("Use  Paging File"), QStringLiteral("Free Paging File"),
            QStringLiteral("Tolal Virtual Memory"), QStringLiteral("Use  Virtual Memory"), QStringLiteral("Free Virtual Memory"),
            QStringLiteral("Extend Memory")};
}

QStringList SystemInfoValues()
{
    const QStringList os = osTexts();
    const QStringList cpu = cpuTexts();
    return QStringList{os[0], QStringLiteral("%1 (%2)").arg(os[1], os[2]), os[3], cpu[0], cpu[1], cpu[3], cpu[4], cpu[2]}
           + memoryTexts();
}

QString GetVersionText(int selector)
{
    switch (selector) {
    case 0:
        return QStringLiteral("TALVEN-77-PC Player");
    case 1:
        return QStringLiteral(TALVEN77_VERSION);
    case 2:
        return QStringLiteral("Copyright (C) 2026 Corvane. All rights reserved.");
    default:
        return {};
    }
}
