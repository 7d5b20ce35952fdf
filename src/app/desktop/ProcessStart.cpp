#include "ProcessStart.h"

#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "app/desktop/WineTool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QThread>

#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

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

pid_t spawn(const ToolStart &start, const QString &workingDirectory)
{
    CStringArray arguments(QStringList { start.program } + start.arguments);
    CStringArray environment(start.environment);
    const QByteArray program = QFile::encodeName(start.program);
    const QByteArray directory = QFile::encodeName(workingDirectory);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
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

// The tool is our child, so it would stay a zombie until we collect it. The event loop collects
// it as soon as it ends, through a descriptor of this one process, touching no other child
// (QProcess reaps its own); once we have quit, the system collects it. A thread blocked on the
// pid does the same at about a third of the start's cost, so it serves only where there is no
// such descriptor (kernels before 5.3) or no event loop on this thread.
void reapWhenDone(pid_t pid)
{
    // By number: the C library's wrapper header is not usable from C++ before glibc 2.37.
    const int fd = int(syscall(SYS_pidfd_open, pid, 0));
    QCoreApplication *application = QCoreApplication::instance();
    if (fd >= 0 && application && application->thread() == QThread::currentThread()) {
        auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, application);
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, fd] {
            notifier->setEnabled(false);
            siginfo_t info;
            waitid(P_PIDFD, id_t(fd), &info, WEXITED);
            ::close(fd);
            notifier->deleteLater();
        });
        return;
    }
    if (fd >= 0)
        ::close(fd);
    try {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    } catch (const std::system_error &) {
        // Out of threads: the tool still runs, and is collected when we quit.
    }
}

} // namespace

qint64 startHiddenProcess(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory)
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
    const ToolStart start = machine == PeMachine::NotWindows
        ? ToolStart { program, argument.isEmpty() ? QStringList() : QStringList { argument }, {} }
        : wineStart(program, machine, argument, WineInstall::find());

    const pid_t pid = spawn(start, workingDirectory);
    reapWhenDone(pid);
    return pid;
}
