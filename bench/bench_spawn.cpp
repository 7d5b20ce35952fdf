// Times a click's tool start: startHiddenProcess against a bare posix_spawn of the same program,
// then the click to a Windows tool's output through Wine (warm wineserver) against a native
// tool's. Prints figures; asserts nothing. The Wine figures use the WINEPREFIX of the environment.

#include "app/desktop/DriveMap.h"
#include "app/desktop/ProcessStart.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int SpawnRounds = 300;
constexpr int NativeRounds = 30;
constexpr int WineRounds = 7;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void waitGone(pid_t pid)
{
    // Collected by the process start's own reaper, from the event loop; our waitpid would race it.
    while (::kill(pid, 0) == 0 || errno != ESRCH) {
        QCoreApplication::processEvents();
        ::usleep(100);
    }
}

// One bare posix_spawn of the program, as the floor.
qint64 bareSpawn(const QByteArray &program)
{
    char *argv[] = { const_cast<char *>(program.constData()), const_cast<char *>("/tmp/x.wav"), nullptr };
    pid_t pid = 0;
    return posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// Starts with each function in turn, so that a change in the machine's load falls on both alike;
// the medians in milliseconds, of the start alone.
std::pair<double, double> interleavedMs(const std::function<qint64()> &floor, const std::function<qint64()> &ours)
{
    std::vector<double> times[2];
    for (int i = 0; i < SpawnRounds; ++i) {
        for (int which = 0; which < 2; ++which) {
            QElapsedTimer timer;
            timer.start();
            const qint64 pid = which == 0 ? floor() : ours();
            times[which].push_back(timer.nsecsElapsed() / 1e6);
            if (which == 0)
                ::waitpid(pid_t(pid), nullptr, 0);
            else
                waitGone(pid_t(pid));
        }
    }
    return { median(times[0]), median(times[1]) };
}

// From the start to the tool's output file, as a user's click to the tool at work.
double toOutputMs(
    const QString &commandLine, const QString &output, const DriveMap &drives, const QString &work, int rounds)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QFile::remove(output);
        QElapsedTimer timer;
        timer.start();
        startHiddenProcess(commandLine, drives, work);
        while (!QFile::exists(output)) {
            if (timer.elapsed() > 60000)
                return -1;
            ::usleep(200);
        }
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir work;
    QDir(work.path()).mkpath(QStringLiteral("data"));
    QFile::copy(QStringLiteral("/bin/true"), work.filePath(QStringLiteral("data/true.exe")));
    QFile script(work.filePath(QStringLiteral("data/lip.exe")));
    if (!script.open(QIODevice::WriteOnly))
        return 1;
    script.write("#!/bin/sh\nexec cp -- \"$1\" \"${1%.*}.lip\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFile::ExeOwner);
    QFile::copy(QStringLiteral(OMBRIX_PE_TOOL), work.filePath(QStringLiteral("data/wavtolip.exe")));
    QFile sound(work.filePath(QStringLiteral("voice 01.wav")));
    if (!sound.open(QIODevice::WriteOnly))
        return 1;
    sound.write(QByteArray(4096, 'x'));
    sound.close();

    const DriveMap drives { DriveMap::Scanner() };
    const QString soundDriveForm
        = QStringLiteral("C:") + QString(sound.fileName()).replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QString output = work.filePath(QStringLiteral("voice 01.lip"));

    const QByteArray tool = QFile::encodeName(work.filePath(QStringLiteral("data/true.exe")));
    const auto [bare, ours] = interleavedMs([&] { return bareSpawn(tool); },
        [&] { return startHiddenProcess("data\\true.exe C:\\tmp\\x.wav", drives, work.path()); });
    std::printf("click to tool running, median of %d starts of /bin/true:\n", SpawnRounds);
    std::printf("bare posix_spawn:                 %8.3f ms\n", bare);
    std::printf("startHiddenProcess:               %8.3f ms\n", ours);
    std::printf("startHiddenProcess / bare:        %8.2f\n", ours / bare);

    const double native = toOutputMs("data\\lip.exe " + soundDriveForm, output, drives, work.path(), NativeRounds);
    std::printf("\nclick to the tool's output, median:\n");
    std::printf("native tool (sh + cp):            %8.2f ms\n", native);
    if (QStandardPaths::findExecutable(QStringLiteral("wine")).isEmpty()) {
        std::printf("Windows tool: wine is not on PATH\n");
        return 0;
    }
    // A persistent wineserver, as after the first Windows tool of a session.
    QProcess::execute(QStringLiteral("wineserver"), { QStringLiteral("-p") });
    toOutputMs("data\\wavtolip.exe " + soundDriveForm, output, drives, work.path(), 1);
    const double wine = toOutputMs("data\\wavtolip.exe " + soundDriveForm, output, drives, work.path(), WineRounds);
    QProcess::execute(QStringLiteral("wineserver"), { QStringLiteral("-k") });
    std::printf("Windows tool, warm wineserver:    %8.2f ms\n", wine);
    std::printf("Windows / native:                 %8.1f\n", wine / native);
    return 0;
}
