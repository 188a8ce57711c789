#include "FatalSignalLog.h"

#include "ProgramIdentity.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array kFatalSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kMaxFrames = 64;
constexpr size_t kPathBytes = 4096;

// Filled before the handler is installed; the handler only reads them.
char g_logPath[kPathBytes];
char g_versionLine[512];
struct sigaction g_previous[std::size(kFatalSignals)];
// The handler runs on a stack of its own, so that a stack that overflowed can still be logged.
alignas(16) char g_alternateStack[64 * 1024];

void writeText(int fd, const char* text)
{
    size_t length = std::strlen(text);
    while (length > 0) {
        const ssize_t n = ::write(fd, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        length -= size_t(n);
    }
}

void writeNumber(int fd, long long value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* at = end;
    *--at = '\0';
    const bool negative = value < 0;
    unsigned long long rest = negative ? 0ull - static_cast<unsigned long long>(value)
                                       : static_cast<unsigned long long>(value);
    do {
        *--at = char('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (negative)
        *--at = '-';
    writeText(fd, at);
}

const char* signalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGABRT: return "SIGABRT";
    default: return "signal";
    }
}

// The log's folders are made here, not at start, so that a program that never crashes
// leaves nothing behind; mkdir is safe in a handler.
int openLog()
{
    int fd = ::open(g_logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    char folder[kPathBytes];
    std::memcpy(folder, g_logPath, sizeof folder);
    for (char* at = folder + 1; *at; ++at) {
        if (*at != '/')
            continue;
        *at = '\0';
        ::mkdir(folder, 0700);
        *at = '/';
    }
    return ::open(g_logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

void onFatalSignal(int signal, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    const int fd = openLog();
    if (fd >= 0) {
        writeText(fd, "----\n");
        writeText(fd, g_versionLine);
        writeText(fd, "time: ");
        writeNumber(fd, static_cast<long long>(::time(nullptr)));
        writeText(fd, " (seconds since 1970, UTC)\nprocess: ");
        writeNumber(fd, static_cast<long long>(::getpid()));
        writeText(fd, "\nsignal: ");
        writeNumber(fd, signal);
        writeText(fd, " ");
        writeText(fd, signalName(signal));
        if (info && info->si_code > 0 && signal != SIGABRT) {
            // A fault of the program's own (not a signal sent to it): where it was.
            writeText(fd, " at address 0x");
            char hex[2 * sizeof(void*) + 1];
            auto address = reinterpret_cast<uintptr_t>(info->si_addr);
            for (int i = int(sizeof hex) - 2; i >= 0; --i, address >>= 4)
                hex[i] = "0123456789abcdef"[address & 0xf];
            hex[sizeof hex - 1] = '\0';
            writeText(fd, hex);
        }
        writeText(fd, "\nstack:\n");
        void* frames[kMaxFrames];
        const int count = ::backtrace(frames, kMaxFrames);
        ::backtrace_symbols_fd(frames, count, fd);
        ::fsync(fd);
        ::close(fd);
    }
    // The signal then takes its course as before the handler was installed: the default
    // action (a core dump), or the sanitizer's report where one had installed a handler.
    for (size_t i = 0; i < kFatalSignals.size(); ++i) {
        if (kFatalSignals[i] == signal)
            ::sigaction(signal, &g_previous[i], nullptr);
    }
    errno = savedErrno;
    // Returning re-runs a faulting instruction, which now meets the earlier action; a
    // signal sent (raise, kill, abort) is sent again.
    if (!info || info->si_code <= 0 || signal == SIGABRT)
        ::raise(signal);
}

void copyInto(char* target, size_t size, const QByteArray& bytes)
{
    const size_t length = std::min(size - 1, size_t(bytes.size()));
    std::memcpy(target, bytes.constData(), length);
    target[length] = '\0';
}

} // namespace

QString FatalSignalLogPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // XDG_STATE_HOME must be absolute: the desktop ignores a relative one, and so do we.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + u'/' + kCompanyName + u'/' + kProgramTitle + QStringLiteral("/crash.log");
}

void InstallFatalSignalLog(const QString& programVersion)
{
    static bool installed = false;
    copyInto(g_logPath, sizeof g_logPath, QFile::encodeName(FatalSignalLogPath()));
    copyInto(g_versionLine, sizeof g_versionLine, (kProgramTitle + u' ' + programVersion + u'\n').toUtf8());
    if (installed)
        return;
    installed = true;
    // The first backtrace loads the unwinder, which allocates: done now, not after a fault.
    void* frames[2];
    ::backtrace(frames, 2);
    // A sanitizer may have given the thread an alternate stack already; that one stays.
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        stack_t alternate{};
        alternate.ss_sp = g_alternateStack;
        alternate.ss_size = sizeof g_alternateStack;
        ::sigaltstack(&alternate, nullptr);
    }
    struct sigaction action{};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kFatalSignals.size(); ++i)
        ::sigaction(kFatalSignals[i], &action, &g_previous[i]);
}
