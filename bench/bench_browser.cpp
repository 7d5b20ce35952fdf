// Times the file and folder lists on a folder of 100,000 files (or as many as the first argument
// says) and one subfolder per 50 files against a plain readdir-and-match loop over the same folder.
// The contenders run in turn within each round, so a busy machine slows them alike. Prints
// figures; asserts nothing. Run it at 100000 and 1000000 to see how the lists scale.

#include "desktop/DriveMap.h"
#include "browser/FileList.h"
#include "browser/FilePatterns.h"
#include "browser/FolderList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int DefaultFileCount = 100000;
constexpr int Rounds = 7;
const QString Patterns = QStringLiteral("*.wav;*.ogg;*.lip;*.wss");

bool fill(const QByteArray &folder, int fileCount, int folderCount)
{
    static const char *const matching[] = { ".wav", ".OGG", ".Lip", ".wSS" };
    static const char *const others[] = { ".txt", ".mp3", ".WAVE" };
    for (int i = 0; i < fileCount; ++i) {
        // A quarter match, in mixed case; the rest differ only in their extension.
        const char *extension = i % 4 == 0 ? matching[(i / 4) % 4] : others[i % 3];
        const QByteArray name = folder + "/Voice_" + QByteArray::number(i) + extension;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || ::close(fd) != 0)
            return false;
    }
    for (int i = 0; i < folderCount; ++i) {
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

// The median round's time in milliseconds.
double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double millisecondsOf(const std::function<void()> &run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const int fileCount = argc > 1 ? std::atoi(argv[1]) : DefaultFileCount;
    const int folderCount = fileCount / 50;
    if (fileCount <= 0) {
        std::fprintf(stderr, "usage: %s [file count, default %d]\n", argv[0], DefaultFileCount);
        return 1;
    }

    QTemporaryDir tree;
    const QByteArray folder = QFile::encodeName(tree.path());
    std::printf("Filling %s with %d files and %d folders...\n", folder.constData(), fileCount, folderCount);
    if (!tree.isValid() || !fill(folder, fileCount, folderCount)) {
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
    std::vector<double> plainMs, fileMs, folderMs;
    for (int round = 0; round < Rounds; ++round) {
        plainMs.push_back(millisecondsOf([&] { plainMatches = plainLoop(folder, patterns); }));
        // Another folder between rounds, untimed, makes every round a real change and a full read.
        files.setPath(QStringLiteral("C:\\"));
        fileMs.push_back(millisecondsOf([&] { files.setPath(QStringLiteral("D:\\")); }));
        folders.setPath(QStringLiteral("C:\\"));
        folderMs.push_back(millisecondsOf([&] { folders.setPath(QStringLiteral("D:\\")); }));
    }

    std::printf("entries:  %d files (%d match), %d folders; median of %d rounds (best in brackets)\n", fileCount,
        plainMatches, folderCount, Rounds);
#ifndef NDEBUG
    std::printf("(a debug build: the lists' own code runs unoptimised, Qt's does not)\n");
#endif
    const auto best = [](const std::vector<double> &times) { return *std::min_element(times.begin(), times.end()); };
    std::printf(
        "plain readdir-and-match loop: %8.2f ms (%8.2f) (%d matches)\n", median(plainMs), best(plainMs), plainMatches);
    std::printf("File1 (FileList::setPath):    %8.2f ms (%8.2f) (%lld listed)\n", median(fileMs), best(fileMs),
        qlonglong(files.fileNames().size()));
    std::printf("Dir1 (FolderList::setPath):   %8.2f ms (%8.2f) (%lld subfolders)\n", median(folderMs), best(folderMs),
        qlonglong(folders.subfolders().size()));
    std::printf("File1 / plain loop:           %8.2f    (%8.2f)\n", median(fileMs) / median(plainMs),
        best(fileMs) / best(plainMs));
    return files.fileNames().size() == plainMatches && folders.subfolders().size() == folderCount ? 0 : 2;
}
