#include "app/QtDesktopServices.h"
#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "app/desktop/ProcessStart.h"
#include "app/desktop/Volumes.h"
#include "app/desktop/WineTool.h"
#include "support/FakeDesktop.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

Q_DECLARE_METATYPE(PeMachine)

namespace {

const QString DataFolder = QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/desktop/data/");

// One line per volume, so that a mismatch shows which one and how.
QStringList describe(const QList<Volume> &volumes)
{
    QStringList lines;
    for (const Volume &volume : volumes)
        lines.append(volume.mountPoint + (volume.available ? " (mounted)" : " (empty)"));
    return lines;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray toolBytes(const char *name)
{
    return readFile(qEnvironmentVariable("OMBRIX_PE_TOOLS") + QLatin1Char('/') + QLatin1String(name));
}

} // namespace

/// The desktop below the program: drive letters for the volumes the system lists, the tools
/// started for real (a recorder stub stands in, and reads back what it saw), Windows tools by
/// their real mingw-built files and damaged copies, and the real message boxes.
class tst_Desktop : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void toNative_data();
    void toNative();
    void lettersStayWithTheirVolumes();
    void scan_data();
    void scan();
    void runsHiddenDetachedAndUnwaited();
    void windowsProgramRunsThroughWine();
    void unstartablePrograms_data();
    void unstartablePrograms();
    void peDetection_data();
    void peDetection();
    void wineStartOrRefusal_data();
    void wineStartOrRefusal();
    void environment();
    void messageBoxes_data();
    void messageBoxes();

private:
    QString record(qint64 pid, const char *name) const
    {
        QFile file(work->filePath(QStringLiteral("records/%1/%2").arg(pid).arg(QLatin1String(name))));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
    }

    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<DriveMap> drives;
};

void tst_Desktop::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid() && QDir(work->path()).mkpath("data") && QDir(work->path()).mkpath("records"));
    QVERIFY(QFile::copy(qEnvironmentVariable("OMBRIX_TEST_TOOLS") + "/recorder.exe", work->filePath("data/tool.exe")));
    QVERIFY(QFile(work->filePath("data/plain.exe")).open(QIODevice::WriteOnly)); // without the run bit
    qputenv("OMBRIX_RECORD_DIR", work->filePath("records").toLocal8Bit());
    drives = std::make_unique<DriveMap>(DriveMap::Scanner());
}

void tst_Desktop::cleanup()
{
    // Let every recorder still waiting finish before its folder goes away.
    QVERIFY(QFile(work->filePath("records/release")).open(QIODevice::WriteOnly));
}

void tst_Desktop::toNative_data()
{
    QTest::addColumn<QString>("drivePath");
    QTest::addColumn<QString>("native"); // empty: no such drive

    QTest::newRow("file at the root, doubled backslash") << "C:\\\\voice01.wav" << QString("/voice01.wav");
    QTest::newRow("unavailable drive still maps") << "e:\\x.wav" << QString("/media/cdrom/x.wav");
    QTest::newRow("no such letter") << "Q:\\x.wav" << QString();
    QTest::newRow("empty") << "" << QString();
}

void tst_Desktop::toNative()
{
    QFETCH(QString, drivePath);
    QFETCH(QString, native);
    const DriveMap drives([] { return QList<Volume> { { "/media/usb", true }, { "/media/cdrom", false } }; });
    try {
        QCOMPARE(drives.toNative(drivePath), native);
        QVERIFY(!native.isEmpty());
    } catch (const DesktopError &error) {
        QVERIFY2(native.isEmpty(), qPrintable(error.description));
        QCOMPARE(error.number, int(DesktopError::PathNotFound));
        QVERIFY(error.description.contains(drivePath));
    }
}

void tst_Desktop::lettersStayWithTheirVolumes()
{
    // A stick pulled out and plugged in again gets its own letter back, available again.
    QList<Volume> volumes = { { "/media/usb", true } };
    DriveMap drives([&volumes] { return volumes; });
    volumes = { { "/media/cdrom", true } };
    drives.rescan();
    volumes.append({ "/media/usb", true });
    drives.rescan();
    QCOMPARE(drives.drives(), QStringList({ "C:", "D:", "E:" }));
    QCOMPARE(drives.mountPoint("d:"), QStringLiteral("/media/usb"));
    QVERIFY(drives.isAvailable("D:") && drives.isAvailable("E:") && !drives.isAvailable("F:"));

    // Letters end at Z:; volumes past it are left out.
    volumes.clear();
    for (int i = 0; i < 30; ++i)
        volumes.append({ QStringLiteral("/media/v%1").arg(i), true });
    drives.rescan();
    QCOMPARE(drives.drives().size(), 24);
    QCOMPARE(drives.mountPoint("Z:"), QStringLiteral("/media/v20"));
}

void tst_Desktop::scan_data()
{
    QTest::addColumn<QString>("name"); // of the mountinfo and fstab files
    QTest::addColumn<QStringList>("expected");

    // Pseudo file systems, system folders, network mounts outside the removable folders and
    // binds of single files (/media/anna/hosts) are left out.
    QTest::newRow("desktop") << "desktop"
                             << QStringList { "/data (mounted)", "/run/media/anna/SOUNDS (mounted)",
                                    "/media/anna/USB STICK (mounted)", "/mnt/nas (mounted)",
                                    "/media/anna/sshbox (mounted)", "/mnt/music (mounted)", "/media/cdrom0 (empty)",
                                    "/cdrom (empty)", "/mnt/backup (empty)", "/media/dvd (empty)" };
    QTest::newRow("octal escapes decoded, inexact names left out")
        << "escapes"
        << QStringList { "/media/anna/My Sounds\tTab (mounted)", "/media/anna/back\\slash (mounted)",
               QStringLiteral("/media/anna/été (mounted)"), "/media/anna/new\nline (mounted)",
               "/media/Optical Drive (empty)" };
    QTest::newRow("automount points are empty until mounted; stacked mounts listed once")
        << "automount" << QStringList { "/mnt/backup (mounted)", "/media/stacked (mounted)", "/media/cdrom0 (empty)" };
}

void tst_Desktop::scan()
{
    QFETCH(QString, name);
    QFETCH(QStringList, expected);
    // Only bind mounts are looked up, so an unreachable network mount never blocks the scan.
    QSet<QString> asked;
    const auto isFolder = [&asked](const QString &path) {
        asked.insert(path);
        return path == QLatin1String("/mnt/music");
    };
    QCOMPARE(describe(parseVolumes(
                 readFile(DataFolder + "mountinfo-" + name), readFile(DataFolder + "fstab-" + name), isFolder)),
        expected);
    QVERIFY(asked.subtract({ "/media/anna/hosts", "/mnt/music" }).isEmpty());
}

void tst_Desktop::runsHiddenDetachedAndUnwaited()
{
    // As a conversion builds it: tool string, folder, one backslash, name. The name arrives as one
    // argument, byte for byte, and no shell ever reads it.
    const QString name = QString::fromUtf8("příšerně\\žluť \"kůň\" it's $(touch pwned) `touch pwned`;a&b|c\n*.wav");
    const QString folder = work->filePath("sounds");
    const qint64 pid
        = startHiddenProcess("data\\tool.exe " + driveFormOf(folder) + "\\" + DriveMap::nameToDriveForm(name.toUtf8()),
            *drives, work->path());
    QTRY_VERIFY(QFile::exists(work->filePath(QStringLiteral("records/%1/started").arg(pid))));
    QCOMPARE(record(pid, "argc"), QStringLiteral("1"));
    QCOMPARE(record(pid, "arg1"), folder + '/' + name);
    QVERIFY(!QFile::exists(work->filePath("pwned")) && !QFile::exists(work->filePath("data/pwned")));
    // The start returned while the tool still waits for its release.
    QCOMPARE(record(pid, "done"), QStringLiteral("<missing>"));
    for (const char *stream : { "fd0", "fd1", "fd2" })
        QCOMPARE(record(pid, stream), QStringLiteral("/dev/null"));
    QVERIFY(record(pid, "session").trimmed().toLongLong() != qint64(getsid(0)));
    QCOMPARE(record(pid, "cwd").trimmed(), QDir(work->path()).canonicalPath());

    // Released, it ends and leaves no zombie behind.
    cleanup();
    QTRY_COMPARE(record(pid, "done"), QString());
    QTRY_VERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
}

void tst_Desktop::windowsProgramRunsThroughWine()
{
    // A recorder stands in for the wine on PATH; the tool has no run bit, as from a zip.
    QVERIFY(QDir(work->path()).mkpath("bin"));
    QVERIFY(QFile::copy(work->filePath("data/tool.exe"), work->filePath("bin/wine")));
    QVERIFY(QFile::copy(qEnvironmentVariable("OMBRIX_PE_TOOLS") + "/copytolip64.exe", work->filePath("data/lip.exe")));
    QVERIFY(QFile::setPermissions(work->filePath("data/lip.exe"), QFile::ReadOwner | QFile::WriteOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(work->filePath("bin")) + ":" + path);
    const qint64 pid
        = startHiddenProcess("data\\lip.exe " + driveFormOf(work->path()) + "\\a b.wav", *drives, work->path());
    qputenv("PATH", path);

    // The real Wine start end to end shows the arguments arrive; only the environment is checked here.
    QTRY_VERIFY(QFile::exists(work->filePath(QStringLiteral("records/%1/started").arg(pid))));
    const QStringList environment = record(pid, "env").split('\n');
    QVERIFY(environment.contains("WINEDLLOVERRIDES=winemenubuilder.exe=d") && environment.contains("WINEDEBUG=-all"));
}

void tst_Desktop::unstartablePrograms_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("named");

    QTest::newRow("missing tool") << "data\\wavtolip.exe C:\\x.wav" << int(DesktopError::FileNotFound)
                                  << "data/wavtolip.exe";
    QTest::newRow("not executable") << "data\\plain.exe C:\\x.wav" << int(DesktopError::PermissionDenied)
                                    << "data/plain.exe";
    QTest::newRow("a folder") << "data C:\\x.wav" << int(DesktopError::PermissionDenied) << "/data";
    QTest::newRow("never from PATH") << "sh C:\\x.wav" << int(DesktopError::FileNotFound) << "/sh";
}

void tst_Desktop::unstartablePrograms()
{
    QFETCH(QString, commandLine);
    QFETCH(int, number);
    QFETCH(QString, named);
    try {
        startHiddenProcess(commandLine, *drives, work->path());
        QFAIL("no error raised");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, number);
        QVERIFY2(error.description.contains(named), qPrintable(error.description));
    }
}

void tst_Desktop::peDetection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PeMachine>("machine");

    const QByteArray pe64 = toolBytes("copytolip64.exe");
    QVERIFY(pe64.size() > 1024);
    const quint32 offset = qFromLittleEndian<quint32>(pe64.constData() + 0x3C);
    const auto patched
        = [&pe64](quint32 at, QByteArrayView bytes) { return QByteArray(pe64).replace(at, bytes.size(), bytes); };

    QTest::newRow("PE32+ by mingw") << pe64 << PeMachine::X86_64;
    QTest::newRow("PE32 by mingw") << toolBytes("copytolip32.exe") << PeMachine::I386;
    QTest::newRow("another processor") << patched(offset + 4, "\x64\xAA") << PeMachine::Other;
    QTest::newRow("truncated in the machine field") << pe64.left(offset + 5) << PeMachine::NotWindows;
    QTest::newRow("MZ without the PE signature") << patched(offset, "X") << PeMachine::NotWindows;
}

void tst_Desktop::peDetection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PeMachine, machine);
    QFile file(work->filePath("tool.exe"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QCOMPARE(peMachine(file.fileName()), machine);
}

void tst_Desktop::wineStartOrRefusal_data()
{
    QTest::addColumn<QString>("wine"); // "wine", "wine32" (with the 32-bit loader) or none
    QTest::addColumn<PeMachine>("machine");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("result"); // the argument as the tool gets it, or part of the error

    const auto x64 = PeMachine::X86_64;
    const int badName = DesktopError::BadFileName, notFound = DesktopError::FileNotFound;
    QTest::newRow("64-bit") << "wine" << x64 << QString::fromUtf8("/tmp/My é/.hidden/v.1.wav") << 0
                            << QString::fromUtf8("Z:\\tmp\\My é\\.hidden\\v.1.wav");
    QTest::newRow("32-bit, no argument") << "wine32" << PeMachine::I386 << QString() << 0 << QString();
    // Refused: Wine could not hand these names to the tool, which would fail without a word.
    QTest::newRow("backslash, wildcard, quote, pipe")
        << "wine" << x64 << "/a/b\\*\"|.wav" << badName << "/a/b\\*\"|.wav:";
    QTest::newRow("control character") << "wine" << x64 << "/a/two\nlines.wav" << badName << "/a/two\nlines.wav:";
    QTest::newRow("trailing space") << "wine" << x64 << "/a/voice.wav " << badName << "/a/voice.wav :";
    QTest::newRow("folder ending in a dot") << "wine" << x64 << "/a/take 2./v.wav" << badName << "/a/take 2./v.wav:";
    QTest::newRow("no wine") << "" << x64 << "/a.wav" << notFound << "/d/tool.exe is a Windows program and needs Wine";
    QTest::newRow("32-bit without wine32") << "wine" << PeMachine::I386 << "/a.wav" << notFound << "wine32:i386";
    QTest::newRow("another processor") << "wine32" << PeMachine::Other << "/a.wav"
                                       << int(DesktopError::PathFileAccessError)
                                       << "/d/tool.exe: it is a Windows program for another processor";
}

void tst_Desktop::wineStartOrRefusal()
{
    QFETCH(QString, wine);
    QFETCH(PeMachine, machine);
    QFETCH(QString, argument);
    QFETCH(int, number);
    QFETCH(QString, result);
    try {
        const ToolStart start = wineStart(
            "/d/tool.exe", machine, argument, { wine.isEmpty() ? wine : "/usr/bin/wine", wine == "wine32" });
        QCOMPARE(number, 0);
        QCOMPARE(start.program, QStringLiteral("/usr/bin/wine"));
        QCOMPARE(start.arguments,
            QStringList { "/d/tool.exe" } + (result.isEmpty() ? QStringList() : QStringList { result }));
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, number);
        QVERIFY2(error.description.contains(result), qPrintable(error.description));
    }
}

void tst_Desktop::environment()
{
    const auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };
    // Quiet Wine, no menu entries on the user's desktop, and a UTF-8 locale: LC_ALL=C wins over a
    // UTF-8 LANG, and under it Wine would mangle every non-ASCII name.
    QCOMPARE(sorted(wineEnvironment({ "PATH=/usr/bin", "LC_ALL=C", "LANG=en_US.UTF-8" })),
        sorted({ "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "PATH=/usr/bin", "WINEDEBUG=-all",
            "WINEDLLOVERRIDES=winemenubuilder.exe=d" }));
    // The user's own choices kept; LC_CTYPE, UTF-8 with a modifier, wins over LANG=C.
    QCOMPARE(sorted(wineEnvironment(
                 { "WINEDEBUG=+relay", "WINEDLLOVERRIDES=d3dx9=n", "LC_CTYPE=de_DE.utf8@euro", "LANG=C" })),
        sorted({ "WINEDEBUG=+relay", "LC_CTYPE=de_DE.utf8@euro", "LANG=C",
            "WINEDLLOVERRIDES=d3dx9=n;winemenubuilder.exe=d" }));
}

void tst_Desktop::messageBoxes_data()
{
    QTest::addColumn<int>("flags"); // -1: an error report
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("answer");

    const int enter = Qt::Key_Return, ok = DesktopServices::Ok;
    QTest::newRow("16 critical") << 16 << int(QMessageBox::Critical) << enter << ok;
    QTest::newRow("48 warning") << 48 << int(QMessageBox::Warning) << enter << ok;
    QTest::newRow("64 information") << 64 << int(QMessageBox::Information) << enter << ok;
    QTest::newRow("36 question, Return answers Yes")
        << 36 << int(QMessageBox::Question) << enter << int(DesktopServices::Yes);
    QTest::newRow("36 question, Escape answers No")
        << 36 << int(QMessageBox::Question) << int(Qt::Key_Escape) << int(DesktopServices::No);
    QTest::newRow("error report") << -1 << int(QMessageBox::Critical) << enter << ok;
}

void tst_Desktop::messageBoxes()
{
    QFETCH(int, flags);
    QFETCH(int, icon);
    QFETCH(int, key);
    QFETCH(int, answer);
    const QString text = flags < 0 ? QStringLiteral("Run-time error '53':\n\nFile not found: x") : QStringLiteral("t");
    const auto buttons = flags == 36 ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok;

    QtDesktopServices desktop;
    QWidget owner;
    QString shown;
    QTimer::singleShot(0, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = QStringLiteral("%1|%2|%3|%4")
                        .arg(box->windowTitle(), box->text())
                        .arg(box->icon())
                        .arg(box->standardButtons().toInt());
            QTest::keyClick(box, Qt::Key(key));
            box->close(); // still up only when the key did nothing
        }
    });
    if (flags < 0)
        desktop.reportError(&owner, { DesktopError::FileNotFound, QStringLiteral("File not found: x") });
    else
        QCOMPARE(desktop.messageBox(&owner, text, flags, QStringLiteral("Ombrix Converter")), answer);
    QCOMPARE(shown, QStringLiteral("Ombrix Converter|%1|%2|%3").arg(text).arg(icon).arg(buttons.toInt()));
}

QTEST_MAIN(tst_Desktop)
#include "tst_desktop.moc"
