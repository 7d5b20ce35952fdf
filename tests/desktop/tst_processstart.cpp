#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "app/desktop/ProcessStart.h"
#include "app/desktop/WineTool.h"
#include "support/FakeDesktop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <unistd.h>

Q_DECLARE_METATYPE(PeMachine)

/// Starts the recorder stub as a real detached process and reads back what it saw; reads real
/// mingw-built PE files and damaged copies of them. The rest is pure rules.
class tst_ProcessStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void runsHiddenDetachedAndUnwaited();
    void windowsProgramRunsThroughWine();
    void unstartablePrograms_data();
    void unstartablePrograms();
    void peDetection_data();
    void peDetection();
    void wineStartOrRefusal_data();
    void wineStartOrRefusal();
    void environment();

private:
    QString record(qint64 pid, const char *name) const
    {
        QFile file(work->filePath(QStringLiteral("records/%1/%2").arg(pid).arg(QLatin1String(name))));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
    }

    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<DriveMap> drives;
};

static QByteArray toolBytes(const char *name)
{
    QFile file(qEnvironmentVariable("OMBRIX_PE_TOOLS") + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_ProcessStart::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid() && QDir(work->path()).mkpath("data") && QDir(work->path()).mkpath("records"));
    QVERIFY(QFile::copy(qEnvironmentVariable("OMBRIX_TEST_TOOLS") + "/recorder.exe", work->filePath("data/tool.exe")));
    QVERIFY(QFile(work->filePath("data/plain.exe")).open(QIODevice::WriteOnly)); // without the run bit
    qputenv("OMBRIX_RECORD_DIR", work->filePath("records").toLocal8Bit());
    drives = std::make_unique<DriveMap>(DriveMap::Scanner());
}

void tst_ProcessStart::cleanup()
{
    // Let every recorder still waiting finish before its folder goes away.
    QVERIFY(QFile(work->filePath("records/release")).open(QIODevice::WriteOnly));
}

void tst_ProcessStart::runsHiddenDetachedAndUnwaited()
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
    QVERIFY(QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
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

void tst_ProcessStart::windowsProgramRunsThroughWine()
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

    QTRY_VERIFY(QFile::exists(work->filePath(QStringLiteral("records/%1/started").arg(pid))));
    QCOMPARE(record(pid, "argc"), QStringLiteral("2"));
    QCOMPARE(record(pid, "arg1"), work->filePath("data/lip.exe"));
    QCOMPARE(record(pid, "arg2"), "Z:" + QString(work->path()).replace('/', '\\') + "\\a b.wav");
    const QStringList environment = record(pid, "env").split('\n');
    QVERIFY(environment.contains("WINEDLLOVERRIDES=winemenubuilder.exe=d") && environment.contains("WINEDEBUG=-all"));
}

void tst_ProcessStart::unstartablePrograms_data()
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

void tst_ProcessStart::unstartablePrograms()
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

void tst_ProcessStart::peDetection_data()
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
    QTest::newRow("truncated in the DOS header") << pe64.left(0x3E) << PeMachine::NotWindows;
    QTest::newRow("MZ with an offset past the end") << patched(0x3C, "\xF0\xFF\xFF\x7F") << PeMachine::NotWindows;
    QTest::newRow("MZ without the PE signature") << patched(offset, "X") << PeMachine::NotWindows;
    QTest::newRow("shell script") << QByteArray("#!/bin/sh\nexec oggenc \"$1\"\n").repeated(8) << PeMachine::NotWindows;
}

void tst_ProcessStart::peDetection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PeMachine, machine);
    QFile file(work->filePath("tool.exe"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QCOMPARE(peMachine(file.fileName()), machine);
}

void tst_ProcessStart::wineStartOrRefusal_data()
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

void tst_ProcessStart::wineStartOrRefusal()
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

void tst_ProcessStart::environment()
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

QTEST_GUILESS_MAIN(tst_ProcessStart)
#include "tst_processstart.moc"
