#include "ProcessStart.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"
#include "desktop/Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The NULL-terminated array of C strings that posix_spawn takes, holding its own bytes.
class CStringArray
{
public:
    explicit CStringArray(const QStringList &strings)
    {
        for (const QString &string : strings)
            bytes.push_back(QFile::encodeName(string));
        for (QByteArray &item : bytes)
            pointers.push_back(item.data());
        pointers.push_back(nullptr);
    }

    char **data() { return pointers.data(); }

private:
    std::vector<QByteArray> bytes;
    std::vector<char *> pointers;
};

// Starts the tool with standard input and output on the null device and its error output on
// errorFd, or the null device too when that is -1.
pid_t spawn(const ToolStart &start, const QString &workingDirectory, int errorFd)
{
    CStringArray arguments(QStringList { start.program } + start.arguments);
    CStringArray environment(start.environment);
    const QByteArray program = QFile::encodeName(start.program);
    const QByteArray directory = QFile::encodeName(workingDirectory);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, errorFd >= 0 ? errorFd : 0, 2);
    posix_spawn_file_actions_addchdir_np(&actions, directory.constData());

    // Its own session, so no signal or hang-up of ours reaches it; signals as a fresh program has them.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t set;
    sigemptyset(&set);
    posix_spawnattr_setsigmask(&attributes, &set);
    sigfillset(&set);
    posix_spawnattr_setsigdefault(&attributes, &set);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int failure = posix_spawn(&pid, program.constData(), &actions, &attributes, arguments.data(),
        start.environment.isEmpty() ? environ : environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0)
        throw DesktopError { DesktopError::PathFileAccessError,
            QStringLiteral("Cannot start %1: %2").arg(start.program, QString::fromLocal8Bit(std::strerror(failure))) };
    return pid;
}

// A tool's error output goes to a file, not a pipe: a pipe would kill the tool with SIGPIPE once we
// have quit, and Wine's helper processes hold a pipe open long after the tool. An anonymous file in
// memory costs the least to make (a few microseconds, against tens for an unnamed one on disk); it goes away with the
// last process that has it open. -1 when no such file can be made.
int openErrorCapture()
{
    int fd = ::memfd_create("ombrix-tool-errors", MFD_CLOEXEC);
    if (fd < 0) {
        const QByteArray folder = QFile::encodeName(QDir::tempPath());
        fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    if (const int error = errno; fd < 0)
        qCWarning(
            lcProcess, "Cannot make a file for a tool's error output (%s): it goes to /dev/null", std::strerror(error));
    return fd;
}

ToolCollector bestCollector = ToolCollector::Pidfd;

// Only the end of a tool's error output is read, so only that is kept: once more than
// MaxCapturedBytes lie there, all but the last TailBytes become a hole. A tool writing without end
// fills at most what it writes between two checks.
constexpr qint64 TailBytes = 4096;
constexpr qint64 MaxCapturedBytes = 256 * 1024;
constexpr int TrimIntervalMs = 1000;
constexpr int PollIntervalMs = 100;

// Watches one started tool from the event loop: collects it when it ends, through a pidfd (or, on
// kernels before 5.3, a poll of this one pid; never a wait for any child, which could take
// QProcess's), then hands its outcome to the handler. Gone with its context: the tool runs on.
class ToolWatch : public QObject
{
public:
    ToolWatch(pid_t pid, int capture, ToolEndHandler onEnd, QObject *context)
        : QObject(context)
        , pid(pid)
        , capture(capture)
        , onEnd(std::move(onEnd))
    {
        // By number: the C library's wrapper header is not usable from C++ before glibc 2.37.
        if (bestCollector == ToolCollector::Pidfd) {
            pidfd = int(syscall(SYS_pidfd_open, pid, 0));
            if (const int error = errno; pidfd < 0)
                qCWarning(lcProcess, "pidfd_open for process %d failed (%s): polling for its end every %d ms instead",
                    int(pid), std::strerror(error), PollIntervalMs);
        }
        if (pidfd >= 0) {
            notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, &ToolWatch::collect);
        }
        poll.callOnTimeout(this, &ToolWatch::collect);
        poll.start(pidfd >= 0 ? TrimIntervalMs : PollIntervalMs);
    }

    ~ToolWatch() override { closeFiles(); }

private:
    void collect()
    {
        trim();
        siginfo_t info {};
        const int result = pidfd >= 0 ? waitid(P_PIDFD, id_t(pidfd), &info, WEXITED | WNOHANG)
                                      : waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG);
        if (result == 0 && info.si_pid == 0)
            return; // still running
        if (const int error = errno; result != 0)
            qCWarning(lcProcess, "waitid for process %d failed (%s): it counts as ended, how is not known", int(pid),
                std::strerror(error));
        ToolExit exit;
        // Collected by someone else (ECHILD): it has ended, how is not known.
        if (result == 0 && info.si_code == CLD_EXITED)
            exit.status = info.si_status;
        else if (result == 0)
            exit.signal = info.si_status;
        exit.errorTail = tail();
        qCDebug(lcProcess, "Process %d ended: exit status %d, signal %d", int(pid), exit.status, exit.signal);
        closeFiles();
        deleteLater();
        if (onEnd)
            std::exchange(onEnd, {})(exit);
    }

    void closeFiles()
    {
        poll.stop();
        // The notifier goes before its descriptor.
        delete std::exchange(notifier, nullptr);
        for (int *fd : { &pidfd, &capture }) {
            if (*fd >= 0)
                ::close(std::exchange(*fd, -1));
        }
    }

    QByteArray tail() const
    {
        struct stat status;
        if (capture < 0 || ::fstat(capture, &status) != 0)
            return {};
        const off_t from = std::max<off_t>(0, status.st_size - TailBytes);
        QByteArray bytes(qsizetype(status.st_size - from), Qt::Uninitialized);
        const ssize_t read = ::pread(capture, bytes.data(), std::size_t(bytes.size()), from);
        bytes.resize(std::max<qsizetype>(0, read));
        // Cut inside a line (or a character): from the next line on, where there is one.
        if (const qsizetype lineEnd = bytes.indexOf('\n'); from > 0 && lineEnd >= 0 && lineEnd < bytes.size() - 1)
            bytes.remove(0, lineEnd + 1);
        return bytes.replace('\0', "");
    }

    void trim() const
    {
        struct stat status;
        if (capture < 0 || ::fstat(capture, &status) != 0 || qint64(status.st_blocks) * 512 <= MaxCapturedBytes)
            return;
        const off_t keepFrom = (status.st_size - TailBytes) & ~off_t(4095);
        if (::fallocate(capture, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, keepFrom) == 0)
            return;
        const int holeError = errno;
        // No holes on this file system: start again; the tool writes on past the end it had.
        const bool emptied = ::ftruncate(capture, 0) == 0;
        qCWarning(lcProcess, "Cannot punch a hole in the error output of process %d (%s): %s", int(pid),
            std::strerror(holeError), emptied ? "emptied it instead" : "cannot empty it either, it grows on");
    }

    pid_t pid;
    int pidfd = -1;
    QSocketNotifier *notifier = nullptr;
    int capture;
    ToolEndHandler onEnd;
    // Checks the error output's size; polls for the end where there is no pidfd.
    QTimer poll;
};

// Where no event loop runs, a thread blocked on the pid collects the tool.
void reapInThread(pid_t pid)
{
    try {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    } catch (const std::system_error &error) {
        // Out of threads: the tool still runs, and is collected when we quit.
        qCWarning(lcProcess, "Cannot start a thread to collect process %d (%s)", int(pid), error.what());
    }
}

} // namespace

ToolLaunch prepareTool(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory)
{
    const qsizetype space = commandLine.indexOf(QLatin1Char(' '));
    const QString programText = space < 0 ? commandLine : commandLine.left(space);
    const QString argumentText = space < 0 ? QString() : commandLine.mid(space + 1);

    const QString program = QDir::cleanPath(
        QDir(workingDirectory).absoluteFilePath(QString(programText).replace(QLatin1Char('\\'), QLatin1Char('/'))));
    const QFileInfo info(program);
    if (!info.exists())
        throw DesktopError { DesktopError::FileNotFound, QStringLiteral("File not found: %1").arg(program) };
    const PeMachine machine = info.isDir() ? PeMachine::NotWindows : peMachine(program);
    if (machine == PeMachine::NotWindows && (info.isDir() || !info.isExecutable()))
        throw DesktopError { DesktopError::PermissionDenied,
            QStringLiteral("Permission denied: %1 is not an executable program").arg(program) };

    const QString argument = argumentText.isEmpty() ? QString() : drives.toNative(argumentText);
    // A Windows program runs through Wine and needs no run bit: files from a zip or a FAT stick have none.
    if (machine == PeMachine::NotWindows)
        return { { program, argument.isEmpty() ? QStringList() : QStringList { argument }, {} }, machine, {} };
    const WineInstall wine = WineInstall::find();
    return { wineStart(program, machine, argument, wine), machine, wine };
}

void forceToolCollector(ToolCollector collector)
{
    bestCollector = collector;
}

qint64 spawnTool(const ToolLaunch &launch, const QString &workingDirectory, QObject *context, ToolEndHandler onEnd)
{
    // The tool is collected, and its outcome read, from the event loop of this thread, if it runs one.
    QCoreApplication *application = QCoreApplication::instance();
    const bool watched = bestCollector != ToolCollector::Thread && application
        && application->thread() == QThread::currentThread();
    const int capture = watched && onEnd ? openErrorCapture() : -1;
    pid_t pid = 0;
    try {
        pid = spawn(launch.start, workingDirectory, capture);
    } catch (...) {
        if (capture >= 0)
            ::close(capture);
        throw;
    }
    if (watched)
        new ToolWatch(pid, capture, std::move(onEnd), context ? context : application);
    else
        reapInThread(pid);
    qCDebug(lcProcess) << "Started" << launch.start.program << launch.start.arguments << "as process" << pid;
    return pid;
}

qint64 startHiddenProcess(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory,
    QObject *context, ToolEndHandler onEnd)
{
    return spawnTool(prepareTool(commandLine, drives, workingDirectory), workingDirectory, context, std::move(onEnd));
}
