#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "app/desktop/ProcessStart.h"
#include "support/FakeDesktop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

/// Starts the recorder stub as a real detached process and reads back what it saw.
class tst_ProcessStart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void hostileNamesArriveAsOneArgument_data();
    void hostileNamesArriveAsOneArgument();
    void runsHiddenDetachedAndUnwaited();
    void windowsProgramRunsThroughWine();
    void unstartablePrograms_data();
    void unstartablePrograms();

private:
    QString record(qint64 pid, const QString &name) const;
    bool started(qint64 pid) const
    {
        return QFile::exists(work->filePath(QStringLiteral("records/%1/started").arg(pid)));
    }

    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<DriveMap> drives;
};

void tst_ProcessStart::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    QDir(work->path()).mkpath(QStringLiteral("data"));
    QDir(work->path()).mkpath(QStringLiteral("records"));
    QVERIFY(QFile::copy(qEnvironmentVariable("OMBRIX_TEST_TOOLS") + "/recorder.exe", work->filePath("data/tool.exe")));
    qputenv("OMBRIX_RECORD_DIR", work->filePath("records").toLocal8Bit());
    drives = std::make_unique<DriveMap>(DriveMap::Scanner());
}

void tst_ProcessStart::cleanup()
{
    // Let every recorder still waiting finish before its folder goes away.
    QFile release(work->filePath("records/release"));
    QVERIFY(release.open(QIODevice::WriteOnly));
}

QString tst_ProcessStart::record(qint64 pid, const QString &name) const
{
    QFile file(work->filePath(QStringLiteral("records/%1/%2").arg(pid).arg(name)));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
}

void tst_ProcessStart::hostileNamesArriveAsOneArgument_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("quotes and shell syntax") << "my \"voice\" it's $(touch pwned) `touch pwned`;a&b|c *.wav";
    QTest::newRow("newline") << "two\nlines.wav";
    QTest::newRow("non-ASCII and backslash") << QString::fromUtf8("příšerně\\žluťoučký kůň.wav");
}

void tst_ProcessStart::hostileNamesArriveAsOneArgument()
{
    QFETCH(QString, name);
    const QString folder = work->filePath("sounds");
    QVERIFY(QDir().mkpath(folder));
    const QString driveName = DriveMap::nameToDriveForm(name.toUtf8());
    QVERIFY(!driveName.isEmpty());

    // As a conversion builds it: tool string, folder, one backslash, name.
    const QString commandLine = "data\\tool.exe " + driveFormOf(folder) + "\\" + driveName;
    const qint64 pid = startHiddenProcess(commandLine, *drives, work->path());
    QTRY_VERIFY(started(pid));
    QCOMPARE(record(pid, "argc"), QStringLiteral("1"));
    QCOMPARE(QFile::encodeName(record(pid, "arg1")), QFile::encodeName(folder + "/" + name));
    QVERIFY(!QFile::exists(work->filePath("pwned")));
    QVERIFY(!QFile::exists(work->filePath("data/pwned")));
}

void tst_ProcessStart::runsHiddenDetachedAndUnwaited()
{
    const qint64 pid = startHiddenProcess("data\\tool.exe C:\\tmp\\x.wav", *drives, work->path());
    QTRY_VERIFY(started(pid));
    // The start returned while the tool still waits for its release.
    QVERIFY(QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
    QVERIFY(!QFile::exists(work->filePath(QStringLiteral("records/%1/done").arg(pid))));

    for (const char *stream : { "fd0", "fd1", "fd2" })
        QCOMPARE(record(pid, stream), QStringLiteral("/dev/null"));
    QVERIFY(record(pid, "session").trimmed().toLongLong() != qint64(getsid(0)));
    QCOMPARE(record(pid, "cwd").trimmed(), QDir(work->path()).canonicalPath());

    // Released, it ends and leaves no zombie behind.
    QFile release(work->filePath("records/release"));
    QVERIFY(release.open(QIODevice::WriteOnly));
    QTRY_VERIFY(QFile::exists(work->filePath(QStringLiteral("records/%1/done").arg(pid))));
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

    QTRY_VERIFY(started(pid));
    QCOMPARE(record(pid, "argc"), QStringLiteral("2"));
    QCOMPARE(record(pid, "arg1"), work->filePath("data/lip.exe"));
    QCOMPARE(record(pid, "arg2"), "Z:" + QString(work->path()).replace('/', '\\') + "\\a b.wav");
    const QStringList environment = record(pid, "env").split('\n');
    QVERIFY(environment.contains("WINEDLLOVERRIDES=winemenubuilder.exe=d"));
    QVERIFY(environment.contains("WINEDEBUG=-all"));
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

    QFile plain(work->filePath("data/plain.exe"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/sh\n");
    plain.close();

    try {
        startHiddenProcess(commandLine, *drives, work->path());
        QFAIL("no error raised");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, number);
        QVERIFY2(error.description.contains(named), qPrintable(error.description));
    }
}

QTEST_GUILESS_MAIN(tst_ProcessStart)
#include "tst_processstart.moc"
