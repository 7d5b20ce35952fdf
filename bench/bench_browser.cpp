// Times the file and folder lists on a folder of 100,000 files and 2,000 subfolders against a
// plain readdir-and-match loop over the same folder. Prints figures; asserts nothing.

#include "app/desktop/DriveMap.h"
#include "browser/FileList.h"
#include "browser/FilePatterns.h"
#include "browser/FolderList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int FileCount = 100000;
constexpr int FolderCount = 2000;
constexpr int Rounds = 5;
const QString Patterns = QStringLiteral("*.wav;*.ogg;*.lip;*.wss");

bool fill(const QByteArray &folder)
{
    static const char *const matching[] = { ".wav", ".OGG", ".Lip", ".wSS" };
    static const char *const others[] = { ".txt", ".mp3", ".WAVE" };
    for (int i = 0; i < FileCount; ++i) {
        // A quarter match, in mixed case; the rest differ only in their extension.
        const char *extension = i % 4 == 0 ? matching[(i / 4) % 4] : others[i % 3];
        const QByteArray name = folder + "/Voice_" + QByteArray::number(i) + extension;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || ::close(fd) != 0)
            return false;
    }
    for (int i = 0; i < FolderCount; ++i) {
        if (::mkdir((folder + "/Folder_" + QByteArray::number(i)).constData(), 0755) != 0)
            return false;
    }
    return true;
}

// The baseline: what any listing has to do at least.
int plainLoop(const QByteArray &folder, const FilePatterns &patterns)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return -1;
    int matches = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || entry->d_type != DT_REG)
            continue;
        if (patterns.matches(entry->d_name, std::strlen(entry->d_name)))
            ++matches;
    }
    ::closedir(dir);
    return matches;
}

// The best of a few rounds, in milliseconds, so that one hiccup of the machine does not count.
// prepare runs before each round, untimed.
double bestOf(const std::function<void()> &prepare, const std::function<void()> &run)
{
    double best = 1e300;
    for (int round = 0; round < Rounds; ++round) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir tree;
    const QByteArray folder = QFile::encodeName(tree.path());
    std::printf("Filling %s with %d files and %d folders...\n", folder.constData(), FileCount, FolderCount);
    if (!tree.isValid() || !fill(folder)) {
        std::fprintf(stderr, "cannot fill the folder\n");
        return 1;
    }

    DriveMap drives([&] { return QList<Volume> { { tree.path(), true } }; });
    FileList files;
    files.setDriveMap(drives);
    files.setPattern(Patterns);
    FolderList folders;
    folders.setDriveMap(drives);

    const FilePatterns patterns(Patterns);
    int plainMatches = 0;
    plainLoop(folder, patterns); // warms the directory cache for every contender
    const double plainMs = bestOf([] {}, [&] { plainMatches = plainLoop(folder, patterns); });
    // Another folder between rounds makes every round a real change and a full read.
    const double fileMs
        = bestOf([&] { files.setPath(QStringLiteral("C:\\")); }, [&] { files.setPath(QStringLiteral("D:\\")); });
    const double folderMs
        = bestOf([&] { folders.setPath(QStringLiteral("C:\\")); }, [&] { folders.setPath(QStringLiteral("D:\\")); });

    std::printf(
        "entries:  %d files (%d match), %d folders; best of %d rounds\n", FileCount, plainMatches, FolderCount, Rounds);
#ifndef NDEBUG
    std::printf("(a debug build: the lists' own code runs unoptimised, Qt's does not)\n");
#endif
    std::printf("plain readdir-and-match loop: %8.2f ms (%d matches)\n", plainMs, plainMatches);
    std::printf("File1 (FileList::setPath):    %8.2f ms (%lld listed)\n", fileMs, qlonglong(files.fileNames().size()));
    std::printf(
        "Dir1 (FolderList::setPath):   %8.2f ms (%lld subfolders)\n", folderMs, qlonglong(folders.subfolders().size()));
    std::printf("File1 / plain loop:           %8.2f\n", fileMs / plainMs);
    return files.fileNames().size() == plainMatches && folders.subfolders().size() == FolderCount ? 0 : 2;
}
