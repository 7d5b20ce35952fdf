// Times a click's tool start: startHiddenProcess against a bare posix_spawn of the same program,
// with and without the capture of the tool's error output; the click on WAV -> OGG until the
// encoder's output is listed against the encoder run alone; then the click to a Windows tool's
// output through Wine (warm wineserver) against a native tool's. Prints figures; asserts nothing.
// The Wine figures use the WINEPREFIX of the environment.

#include "desktop/DriveMap.h"
#include "desktop/ProcessStart.h"
#include "browser/FileList.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cmath>
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
constexpr int EncoderRounds = 15;

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

// A second of a 440 Hz tone, 16-bit mono at 44.1 kHz, as a WAV file.
QByteArray toneWav()
{
    constexpr quint32 rate = 44100, bytes = rate * 2;
    QByteArray wav;
    const auto put = [&wav](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            wav.append(char(value >> (8 * i)));
    };
    wav.append("RIFF");
    put(36 + bytes, 4);
    wav.append("WAVEfmt ");
    put(16, 4), put(1, 2), put(1, 2), put(rate, 4), put(rate * 2, 4), put(2, 2), put(16, 2);
    wav.append("data");
    put(bytes, 4);
    for (quint32 i = 0; i < rate; ++i)
        put(quint32(qint16(8000 * std::sin(2 * M_PI * 440 * i / rate))) & 0xffff, 2);
    return wav;
}

// WAV -> OGG as the window does it, until the file list shows the output, against the same
// launcher run alone and waited for; medians in milliseconds, the two in turn.
std::pair<double, double> encoderMs(const QString &work, const DriveMap &drives)
{
    const QString wav = work + QStringLiteral("/tone.wav"), ogg = work + QStringLiteral("/tone.ogg");
    const QByteArray encoder = QFile::encodeName(QStringLiteral(OMBRIX_RUNTIME_DIR "/data/oggenc.exe"));
    const QByteArray wavName = QFile::encodeName(wav);
    FileList files;
    files.setDriveMap(const_cast<DriveMap &>(drives));
    const QString folder = QStringLiteral("C:") + QString(work).replace(QLatin1Char('/'), QLatin1Char('\\'));
    files.setPath(folder);
    files.setPattern(QStringLiteral("*.wav;*.ogg;*.lip;*.wss"));
    std::vector<double> times[2];
    for (int i = 0; i < EncoderRounds; ++i) {
        for (int which = 0; which < 2; ++which) {
            QFile::remove(ogg);
            files.refresh();
            QElapsedTimer timer;
            timer.start();
            if (which == 0) {
                char *argv[] = { const_cast<char *>(encoder.constData()), const_cast<char *>(wavName.constData()),
                    nullptr };
                pid_t pid = 0;
                posix_spawn(&pid, encoder.constData(), nullptr, nullptr, argv, environ);
                ::waitpid(pid, nullptr, 0);
            } else {
                bool listed = false;
                startHiddenProcess(QStringLiteral("%1 %2\\tone.wav").arg(QString::fromLatin1(encoder), folder), drives,
                    work, &files, [&](const ToolExit &) {
                        files.refresh();
                        listed = files.fileNames().contains(QStringLiteral("tone.ogg"));
                    });
                while (!listed)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            }
            times[which].push_back(timer.nsecsElapsed() / 1e6);
        }
    }
    return { median(times[0]), median(times[1]) };
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
    const auto [bareAgain, captured] = interleavedMs([&] { return bareSpawn(tool); }, [&] {
        return startHiddenProcess("data\\true.exe C:\\tmp\\x.wav", drives, work.path(), &app, [](const ToolExit &) { });
    });
    std::printf("with its error output captured:   %8.3f ms\n", captured);
    std::printf("captured / bare:                  %8.2f\n", captured / bareAgain);

    QFile tone(work.filePath(QStringLiteral("tone.wav")));
    if (!tone.open(QIODevice::WriteOnly) || tone.write(toneWav()) < 0)
        return 1;
    tone.close();
    const auto [alone, listed] = encoderMs(work.path(), drives);
    std::printf("\nWAV -> OGG of a second of sound, median of %d:\n", EncoderRounds);
    std::printf("the encoder alone:                %8.2f ms\n", alone);
    std::printf("click until the output is listed: %8.2f ms\n", listed);
    std::printf("listed / alone:                   %8.3f\n", listed / alone);

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
