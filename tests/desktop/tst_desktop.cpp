#include "app/QtDesktopServices.h"
#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"
#include "desktop/ProcessStart.h"
#include "desktop/ToolOutcome.h"
#include "desktop/Volumes.h"
#include "desktop/WineTool.h"
#include "support/FakeDesktop.h"
#include "support/Files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <csignal>

#include <sys/stat.h>

Q_DECLARE_METATYPE(PeMachine)
Q_DECLARE_METATYPE(WineInstall)
Q_DECLARE_METATYPE(ToolCollector)

namespace {

const QString DataFolder = QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/desktop/data/");
const QString PeTools = qEnvironmentVariable("OMBRIX_PE_TOOLS") + QLatin1Char('/');
const QByteArray SystemPath = qgetenv("PATH");

// What a call gives, or its error as "error N: description" cut to the length of the expected one.
template<class Call> QString outcome(const Call &call, const QString &expected)
{
    try {
        return call();
    } catch (const DesktopError &error) {
        return QStringLiteral("error %1: %2").arg(error.number).arg(error.description).left(expected.size());
    }
}

} // namespace

/// The desktop below the program: drive letters, volumes, tools started for real (a recorder stands
/// in and reads back what it saw), Windows tools by their real mingw-built files, message boxes.
class tst_Desktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void lettersStayWithTheirVolumes();
    void scan();
    void startOrRefusal_data();
    void startOrRefusal();
    void peDetection_data();
    void peDetection();
    void wineStartOrRefusal_data();
    void wineStartOrRefusal();
    void wine32Decision_data();
    void wine32Decision();
    void failureNotice_data();
    void failureNotice();
    void errorOutputStaysBoundedAndEndsWithTheTool();
    void everyCollectorReaps_data();
    void everyCollectorReaps();
    void environment();
    void messageBoxes_data();
    void messageBoxes();

private:
    QString recordFile(qint64 pid, const char *name) const
    {
        return work->filePath(QStringLiteral("records/%1/%2").arg(pid).arg(QLatin1String(name)));
    }
    QString record(qint64 pid, const char *name) const { return QString::fromUtf8(readFile(recordFile(pid, name))); }

    std::unique_ptr<QTemporaryDir> work;
    const DriveMap drives { [] { return QList<Volume> { { "/media/cdrom", false } }; } };
};

void tst_Desktop::init()
{
    work = std::make_unique<QTemporaryDir>();
    for (const char *folder : { "data", "records", "bin" })
        QVERIFY(QDir().mkpath(work->filePath(folder)));
    // A recorder stands in for a native tool and for the wine on PATH.
    const QString recorder = qEnvironmentVariable("OMBRIX_TEST_TOOLS") + "/recorder.exe";
    QVERIFY(
        QFile::copy(recorder, work->filePath("data/tool.exe")) && QFile::copy(recorder, work->filePath("bin/wine")));
    QVERIFY(QFile::copy(PeTools + "copytolip64.exe", work->filePath("data/lip.exe")));
    QVERIFY(QFile(work->filePath("data/plain.exe")).open(QIODevice::WriteOnly)); // without the run bit
    qputenv("OMBRIX_RECORD_DIR", work->filePath("records").toLocal8Bit());
    qputenv("PATH", QFile::encodeName(work->filePath("bin")) + ':' + SystemPath);
    qunsetenv("WINEDEBUG"); // the user's own would be kept
}

void tst_Desktop::cleanup()
{
    // Let every recorder still waiting finish before its folder goes away.
    QVERIFY(QFile(work->filePath("records/release")).open(QIODevice::WriteOnly));
}

void tst_Desktop::lettersStayWithTheirVolumes()
{
    // A stick pulled out and plugged in again gets its own letter back, available again.
    QList<Volume> volumes = { { "/media/usb", true } };
    DriveMap map([&volumes] { return volumes; });
    volumes = { { "/media/cdrom", true } };
    map.rescan();
    volumes.append({ "/media/usb", true });
    map.rescan();
    QVERIFY(map.mountPoint("d:") == QLatin1String("/media/usb") && map.isAvailable("D:"));

    // Letters end at Z:; volumes past it are left out.
    volumes.clear();
    for (int i = 0; i < 30; ++i)
        volumes.append({ QStringLiteral("/media/v%1").arg(i), true });
    map.rescan();
    QCOMPARE(map.drives().size(), 24);
    QCOMPARE(map.mountPoint("Z:"), QStringLiteral("/media/v20"));
}

void tst_Desktop::scan()
{
    // Left out: pseudo file systems, system folders, network mounts outside the removable folders,
    // binds of single files (/media/anna/hosts) and names that are no exact UTF-8. Octal escapes
    // decoded; automount points empty until mounted; stacked mounts listed once.
    const QStringList expected { "/data (mounted)", "/run/media/anna/SOUNDS (mounted)",
        "/media/anna/USB STICK (mounted)", "/mnt/nas (mounted)", "/media/anna/sshbox (mounted)", "/mnt/music (mounted)",
        "/media/anna/My Sounds\tTab (mounted)", "/media/anna/back\\slash (mounted)",
        QStringLiteral("/media/anna/été (mounted)"), "/media/anna/new\nline (mounted)", "/mnt/backup (mounted)",
        "/media/stacked (mounted)", "/media/cdrom0 (empty)", "/cdrom (empty)", "/media/dvd (empty)",
        "/media/Optical Drive (empty)" };
    // Only bind mounts are looked up, so an unreachable network mount never blocks the scan.
    QSet<QString> asked;
    const auto isFolder = [&asked](const QString &path) {
        asked.insert(path);
        return path == QLatin1String("/mnt/music");
    };
    QStringList found;
    for (const Volume &volume :
        parseVolumes(readFile(DataFolder + "mountinfo"), readFile(DataFolder + "fstab"), isFolder))
        found.append(volume.mountPoint + (volume.available ? " (mounted)" : " (empty)"));
    QCOMPARE(found, expected);
    QVERIFY(asked.subtract({ "/media/anna/hosts", "/mnt/music" }).isEmpty());
}

void tst_Desktop::startOrRefusal_data()
{
    QTest::addColumn<QString>("commandLine"); // <work>: the drive form of the tool's folder
    QTest::addColumn<QString>("expected"); // argc and arg1 as the tool gets them, or the error's beginning

    // As a conversion builds it: tool, folder, backslash, name; the name arrives whole, unread by a shell.
    const QString name = QString::fromUtf8("příšerně\\žluť \"kůň\" it's $(touch pwned) `touch pwned`;a&b|c\n*.wav");
    QTest::newRow("any name") << "data\\tool.exe <work>\\" + DriveMap::nameToDriveForm(name.toUtf8())
                              << "1 <work>/" + name;
    QTest::newRow("root, doubled backslash") << "data\\tool.exe C:\\\\voice01.wav" << QString("1 /voice01.wav");
    QTest::newRow("unavailable drive still maps") << "data\\tool.exe d:\\x.wav" << QString("1 /media/cdrom/x.wav");
    QTest::newRow("no such letter") << "data\\tool.exe Q:\\x.wav" << QString("error 76: Q:\\x.wav: no such drive");
    QTest::newRow("no letter at all") << "data\\tool.exe x" << QString("error 76: x: no such drive");
    QTest::newRow("missing tool") << "data\\absent.exe" << QString("error 53: File not found: <work>/data/absent.exe");
    QTest::newRow("no run bit") << "data\\plain.exe" << QString("error 70: Permission denied: <work>/data/plain.exe");
    QTest::newRow("a folder") << "data" << QString("error 70: Permission denied: <work>/data is");
    QTest::newRow("never from PATH") << "sh" << QString("error 53: File not found: <work>/sh");
    // The real Wine start end to end shows the file arrives; here, how it is started.
    QTest::newRow("Windows program, through Wine") << "data\\lip.exe" << QString("1 <work>/data/lip.exe");
}

void tst_Desktop::startOrRefusal()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, expected);
    expected.replace("<work>", work->path());
    qint64 pid = 0;
    const auto arguments = [&] {
        pid = startHiddenProcess(commandLine.replace("<work>", driveFormOf(work->path())), drives, work->path());
        const bool started = QTest::qWaitFor([&] { return QFile::exists(recordFile(pid, "started")); });
        return started ? record(pid, "argc") + ' ' + record(pid, "arg1") : QStringLiteral("<never started>");
    };
    QCOMPARE(outcome(arguments, expected), expected);
    if (pid == 0)
        return;

    // Hidden, in its own session and our folder; not waited for, and reaped once released.
    QVERIFY(!QFile::exists(recordFile(pid, "done")));
    QCOMPARE(record(pid, "fd0") + record(pid, "fd1") + record(pid, "fd2"), QStringLiteral("/dev/null").repeated(3));
    QCOMPARE(record(pid, "session").trimmed(), QString::number(pid));
    QCOMPARE(record(pid, "cwd").trimmed(), QDir(work->path()).canonicalPath());
    // Wine quietened, a native tool left with our environment.
    QCOMPARE(record(pid, "env").split('\n').contains("WINEDEBUG=-all"), commandLine.contains("lip.exe"));
    cleanup();
    QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
}

void tst_Desktop::peDetection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PeMachine>("machine");

    const QByteArray pe64 = readFile(PeTools + "copytolip64.exe");
    QVERIFY(pe64.size() > 1024);
    const quint32 offset = qFromLittleEndian<quint32>(pe64.constData() + 0x3C);
    const auto patched
        = [&pe64](quint32 at, QByteArrayView bytes) { return QByteArray(pe64).replace(at, bytes.size(), bytes); };

    QTest::newRow("PE32+ by mingw") << pe64 << PeMachine::X86_64;
    QTest::newRow("PE32 by mingw") << readFile(PeTools + "copytolip32.exe") << PeMachine::I386;
    QTest::newRow("another processor") << patched(offset + 4, "\x64\xAA") << PeMachine::Other;
    QTest::newRow("truncated in the machine field") << pe64.left(offset + 5) << PeMachine::NotWindows;
    QTest::newRow("MZ without the PE signature") << patched(offset, "X") << PeMachine::NotWindows;
}

void tst_Desktop::peDetection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PeMachine, machine);
    QFile file(work->filePath("tool.exe"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush());
    QCOMPARE(peMachine(file.fileName()), machine);
}

void tst_Desktop::wineStartOrRefusal_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<PeMachine>("machine");
    QTest::addColumn<WineInstall>("wine");
    QTest::addColumn<QString>("expected"); // program|arguments, or the beginning of the error

    const auto x64 = PeMachine::X86_64, x86 = PeMachine::I386;
    const WineInstall wine64 { "/usr/bin/wine", true }, wine32 { "/usr/bin/wine", false };
    QTest::newRow("64-bit") << QString::fromUtf8("/tmp/My é/.hidden/v.1.wav") << x64 << wine64
                            << QString::fromUtf8("/usr/bin/wine|/d/tool.exe|Z:\\tmp\\My é\\.hidden\\v.1.wav");
    QTest::newRow("32-bit, no argument") << QString() << x86 << wine32 << "/usr/bin/wine|/d/tool.exe";
    // Refused: Wine could not hand these names to the tool, which would fail without a word.
    QTest::newRow("backslash, wildcard, quote, pipe")
        << "/a/b\\*\"|.wav" << x64 << wine64 << "error 52: /a/b\\*\"|.wav:";
    QTest::newRow("control character") << "/a/two\nlines.wav" << x64 << wine64 << "error 52: /a/two\nlines.wav:";
    QTest::newRow("trailing space") << "/a/voice.wav " << x64 << wine64 << "error 52: /a/voice.wav :";
    QTest::newRow("folder ending in a dot") << "/a/take 2./v.wav" << x64 << wine64 << "error 52: /a/take 2./v.wav:";
    QTest::newRow("no wine") << "/a.wav" << x64 << WineInstall()
                             << "error 53: /d/tool.exe is a Windows program and needs Wine";
    QTest::newRow("32-bit without wine32")
        << "/a.wav" << x86 << wine64 << "error 53: /d/tool.exe is a 32-bit Windows program and needs 32-bit Wine";
    QTest::newRow("another processor") << "/a.wav" << PeMachine::Other << wine32
                                       << "error 75: Cannot start /d/tool.exe: it is a Windows program for another";
}

void tst_Desktop::wineStartOrRefusal()
{
    QFETCH(QString, argument);
    QFETCH(PeMachine, machine);
    QFETCH(WineInstall, wine);
    QFETCH(QString, expected);
    const auto start = [&] {
        const ToolStart tool = wineStart("/d/tool.exe", machine, argument, wine);
        return (QStringList { tool.program } + tool.arguments).join('|');
    };
    QCOMPARE(outcome(start, expected), expected);
}

void tst_Desktop::wine32Decision_data()
{
    QTest::addColumn<QStringList>("tree"); // "path" a file, "path>target" a link, "path/" an unreadable folder
    QTest::addColumn<bool>("refused");

    const QString wrapper = "usr/bin/wine>wine-stable", loader = "usr/lib/wine/wine", wow64 = "i386-windows/ntdll.dll";
    QTest::newRow("Debian 12 with wine32") << QStringList { wrapper, loader } << false;
    QTest::newRow("Debian 12 without wine32")
        << QStringList { wrapper, "usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll" } << true;
    QTest::newRow("Debian unstable, WoW64") << QStringList { wrapper, "usr/lib/x86_64-linux-gnu/wine/" + wow64 } << false;
    QTest::newRow("Debian unstable, i386 loader") << QStringList { wrapper, "usr/lib/i386-linux-gnu/wine/wine" } << false;
    QTest::newRow("Fedora") << QStringList { "usr/bin/wine", "usr/lib64/wine/" + wow64 } << false;
    QTest::newRow("Arch") << QStringList { "usr/bin/wine", "usr/lib/wine/" + wow64 } << false;
    QTest::newRow("WineHQ") << QStringList { "usr/bin/wine>../../opt/wine-stable/bin/wine", "opt/wine-stable/bin/wine",
        "opt/wine-stable/lib/wine/" + wow64 } << false;
    QTest::newRow("i386 loader on PATH") << QStringList { "usr/bin/wine=i386" } << false;
    QTest::newRow("layout not known") << QStringList { "usr/bin/wine" } << false;
    QTest::newRow("broken loader link") << QStringList { wrapper, "usr/lib/wine/wine>gone" } << true;
    QTest::newRow("unreadable loader folder") << QStringList { wrapper, "usr/lib/wine/wine", "usr/lib/wine/" } << false;
}

void tst_Desktop::wine32Decision()
{
    QFETCH(QStringList, tree);
    QFETCH(bool, refused);
    const QString root = work->filePath("root/");
    // Debian's wrapper runs the 32-bit loader it names when that is there.
    tree.append("usr/bin/wine-stable=#!/bin/sh -e\nwine32=/usr/lib/wine/wine\nwine64=/usr/lib/wine/wine64\n");
    for (const QString &entry : std::as_const(tree)) {
        const QString path = root + entry.section(QRegularExpression("[>=]"), 0, 0);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (entry.endsWith('/')) {
            QVERIFY(QFile::setPermissions(path, {}));
        } else if (entry.contains('>')) {
            QVERIFY(QFile::link(entry.section('>', 1), path));
        } else {
            // An ELF's class and machine: 64-bit x86 unless said otherwise.
            const QString content = entry.section('=', 1).replace("\\n", "\n");
            const QByteArray elf = content == "i386" ? QByteArray("\x7f" "ELF\1\1\1", 7).leftJustified(18, '\0') + "\3\0"
                                                      : QByteArray("\x7f" "ELF\2\1\1", 7).leftJustified(18, '\0') + ">";
            QVERIFY(writeFile(path, content.isEmpty() || content == "i386" ? elf : content.toUtf8()));
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
    }
    qputenv("PATH", QFile::encodeName(root + "usr/bin"));
    const WineInstall wine = WineInstall::find(work->filePath("root"));
    QVERIFY(QFile::setPermissions(root + "usr/lib/wine", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !tree.contains("usr/lib/wine/"));
    QVERIFY(!wine.wine.isEmpty());
    QCOMPARE(wine.lacks32Bit, refused);
}

void tst_Desktop::failureNotice_data()
{
    QTest::addColumn<QString>("script"); // what the tool does, as sh runs it
    QTest::addColumn<PeMachine>("machine");
    QTest::addColumn<QString>("body"); // after "data\tool.exe on C:\x.wav "

    const auto native = PeMachine::NotWindows, x86 = PeMachine::I386;
    QTest::newRow("exit status and its line")
        << "echo 'unsupported sample rate' >&2; exit 3" << native << "ended with exit status 3.\nunsupported sample rate";
    QTest::newRow("signal") << "echo bye >&2; kill -TERM $$" << native << "was stopped by signal 15 (Terminated).\nbye";
    QTest::newRow("the last three lines, progress counted")
        << "printf 'one\\ntwo\\n10%%\\r50%%\\r\\rdisk full\\n\\n' >&2; exit 1" << native
        << "ended with exit status 1.\n10%\n50%\ndisk full";
    QTest::newRow("Wine's noise left out")
        << "printf 'bad header\\n0024:fixme:ntdll:x\\nerr:module:y\\n' >&2; exit 1" << native
        << "ended with exit status 1.\nbad header";
    const QString noWine32 = "This Wine cannot run 32-bit Windows programs. To add that: " + wine32Advice({}) + ".";
    QTest::newRow("Debian's wine32 hint") << "echo 'it looks like wine32 is missing, you should install it.' >&2; exit 1"
                                          << x86 << "ended with exit status 1.\nit looks like wine32 is missing, you "
                                                    "should install it.\n" + noWine32;
    QTest::newRow("ntdll not loaded") << "echo 'wine: failed to load L\"ntdll.dll\" error c0000135' >&2; exit 1" << x86
                                      << "ended with exit status 1.\nwine: failed to load L\"ntdll.dll\" error c0000135\n"
                                             + noWine32;
    QTest::newRow("32-bit prefix")
        << "echo \"wine: '/p' is a 32-bit installation, it cannot support 64-bit applications.\" >&2; exit 1"
        << PeMachine::X86_64
        << "ended with exit status 1.\nwine: '/p' is a 32-bit installation, it cannot support 64-bit applications.\n"
           "The Wine folder /p was made for 32-bit programs only. Move it away (Wine makes a new one at the next "
           "start) or set WINEPREFIX to another folder.";
    QTest::newRow("win32 under WoW64") << "echo \"wine: WINEARCH is set to 'win32' but this is not supported in wow64 "
                                          "mode.\" >&2; exit 1"
                                       << x86
                                       << "ended with exit status 1.\nwine: WINEARCH is set to 'win32' but this is not "
                                          "supported in wow64 mode.\nThis Wine runs 32-bit programs in a 64-bit Wine "
                                          "folder and does not take WINEARCH=win32: unset WINEARCH, and use a Wine "
                                          "folder made without it.";
    QTest::newRow("32-bit crash") << "exit 139" << x86
                                  << "ended with exit status 139.\nA 32-bit Windows tool crashed: where the kernel runs "
                                     "no 32-bit code (its 32-bit emulation is off), none can run. A 64-bit build of "
                                     "the tool can.";
    QTest::newRow("64-bit crash, nothing to explain") << "exit 139" << PeMachine::X86_64 << "ended with exit status 139.";
}

void tst_Desktop::failureNotice()
{
    QFETCH(QString, script);
    QFETCH(PeMachine, machine);
    QFETCH(QString, body);
    // A real start: the tool's error output as it arrives through its capture.
    ToolLaunch launch { { "/bin/sh", { "-c", script }, { "WINEPREFIX=/p" } }, PeMachine::NotWindows, {} };
    std::optional<ToolExit> exit;
    spawnTool(launch, work->path(), this, [&exit](const ToolExit &ended) { exit = ended; });
    QTRY_VERIFY(exit);
    launch.machine = machine;
    const Notice notice = toolFailureNotice("data\\tool.exe", "C:\\x.wav", launch, *exit);
    QCOMPARE(notice.summary, QStringLiteral("tool.exe failed"));
    QCOMPARE(notice.body, "data\\tool.exe on C:\\x.wav " + body);
}

void tst_Desktop::errorOutputStaysBoundedAndEndsWithTheTool()
{
    // Megabytes of error output, then a last line: only the end is kept on disk, and read.
    const ToolLaunch launch { { "/bin/sh", { "-c", "head -c 8000000 /dev/zero | tr '\\0' x >&2; echo >&2; echo last "
                                                   "words >&2; exec sleep 60" },
                                  {} },
        PeMachine::NotWindows, {} };
    std::optional<ToolExit> exit;
    const qint64 pid = spawnTool(launch, work->path(), this, [&exit](const ToolExit &ended) { exit = ended; });
    const QByteArray errorFile = QFile::encodeName(QStringLiteral("/proc/%1/fd/2").arg(pid));
    struct stat status {};
    QTRY_VERIFY_WITH_TIMEOUT(stat(errorFile.constData(), &status) == 0 && status.st_size > 8000000
            && status.st_blocks * 512 <= 1024 * 1024,
        10000);
    QVERIFY(!exit);
    ::kill(pid_t(pid), SIGKILL);
    QTRY_VERIFY(exit);
    QCOMPARE(exit->signal, SIGKILL);
    QCOMPARE(lastMeaningfulLines(exit->errorTail, 1), QStringList("last words"));
    QVERIFY(exit->errorTail.size() <= 4096);
    // Collected: no zombie left.
    QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
}

void tst_Desktop::everyCollectorReaps_data()
{
    QTest::addColumn<ToolCollector>("collector");
    QTest::newRow("pidfd") << ToolCollector::Pidfd;
    QTest::newRow("poll, kernels without pidfd") << ToolCollector::Poll;
    QTest::newRow("thread, no event loop") << ToolCollector::Thread;
}

void tst_Desktop::everyCollectorReaps()
{
    QFETCH(ToolCollector, collector);
    forceToolCollector(collector);
    std::optional<ToolExit> exit;
    const qint64 pid = startHiddenProcess("data\\tool.exe", drives, work->path(), this,
        [&exit](const ToolExit &ended) { exit = ended; });
    forceToolCollector(ToolCollector::Pidfd);
    QTRY_VERIFY(QFile::exists(recordFile(pid, "started")));
    cleanup(); // releases the tool
    QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
    // Only the event loop's collectors hear how it ended.
    QTRY_COMPARE(exit.has_value(), collector != ToolCollector::Thread);
}

void tst_Desktop::environment()
{
    // Quiet Wine, no menu entries on the user's desktop, and a UTF-8 locale: LC_ALL=C wins over a
    // UTF-8 LANG, and under it Wine would mangle every non-ASCII name.
    QStringList quiet = wineEnvironment({ "PATH=/usr/bin", "LC_ALL=C", "LANG=en_US.UTF-8" });
    quiet.sort();
    QCOMPARE(quiet,
        QStringList({ "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "PATH=/usr/bin", "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=winemenubuilder.exe=d" }));
    // The user's own choices kept; LC_CTYPE, UTF-8 with a modifier, wins over LANG=C.
    QStringList kept
        = wineEnvironment({ "WINEDEBUG=+relay", "WINEDLLOVERRIDES=d3dx9=n", "LC_CTYPE=de_DE.utf8@euro", "LANG=C" });
    kept.sort();
    QCOMPARE(kept,
        QStringList({ "LANG=C", "LC_CTYPE=de_DE.utf8@euro", "WINEDEBUG=+relay",
            "WINEDLLOVERRIDES=d3dx9=n;winemenubuilder.exe=d" }));
}

void tst_Desktop::messageBoxes_data()
{
    QTest::addColumn<int>("flags"); // -1: an error report
    QTest::addColumn<int>("icon");

    QTest::newRow("48 warning") << 48 << int(QMessageBox::Warning);
    QTest::newRow("36 question") << 36 << int(QMessageBox::Question);
    QTest::newRow("error report, critical") << -1 << int(QMessageBox::Critical);
}

void tst_Desktop::messageBoxes()
{
    QFETCH(int, flags);
    QFETCH(int, icon);
    const bool asks = flags == 36;
    const QString text = flags < 0 ? QStringLiteral("Run-time error '53':\n\nFile not found: x") : QStringLiteral("t");

    // Escape answers No where there is a choice (Return answers Yes end to end), else Ok.
    QtDesktopServices desktop;
    QString shown;
    QTimer::singleShot(0, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = box->windowTitle() + '|' + box->text() + '|' + QString::number(box->icon()) + '|'
                + QString::number(box->standardButtons().toInt());
            QTest::keyClick(box, Qt::Key_Escape);
            box->close(); // still up only when the key did nothing
        }
    });
    if (flags < 0)
        desktop.reportError(nullptr, { DesktopError::FileNotFound, QStringLiteral("File not found: x") });
    else
        QCOMPARE(desktop.messageBox(nullptr, text, flags, QStringLiteral("Ombrix Converter")),
            asks ? DesktopServices::No : DesktopServices::Ok);
    const auto buttons = asks ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;
    QCOMPARE(shown, QStringLiteral("Ombrix Converter|%1|%2|%3").arg(text).arg(icon).arg(buttons.toInt()));
}

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
