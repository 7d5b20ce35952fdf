#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"
#include "app/desktop/Volumes.h"

#include <QFile>
#include <QSet>
#include <QTest>

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

} // namespace

/// The volumes the system lists, the drive letters they get, and the paths and names on them.
class tst_DriveMap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toNative_data();
    void toNative();
    void backslashInNames();
    void lettersStayWithTheirVolumes();
    void scan_data();
    void scan();
    void bindMounts();
};

void tst_DriveMap::toNative_data()
{
    QTest::addColumn<QString>("drivePath");
    QTest::addColumn<QString>("native"); // empty: no such drive

    QTest::newRow("root") << "C:\\" << QString("/");
    QTest::newRow("file at the root, doubled backslash") << "C:\\\\voice01.wav" << QString("/voice01.wav");
    QTest::newRow("second drive root") << "D:\\" << QString("/media/usb");
    QTest::newRow("unavailable drive still maps") << "e:\\x.wav" << QString("/media/cdrom/x.wav");
    QTest::newRow("no such letter") << "Q:\\x.wav" << QString();
    QTest::newRow("empty") << "" << QString();
}

void tst_DriveMap::toNative()
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

void tst_DriveMap::backslashInNames()
{
    // A backslash inside a native name has a stand-in in drive form, shown as the backslash it is.
    const QString driveForm = DriveMap::nameToDriveForm("a\\b.wav");
    QCOMPARE(driveForm, "a" + QString(DriveMap::BackslashInName) + "b.wav");
    QCOMPARE(DriveMap::displayName(driveForm), QStringLiteral("a\\b.wav"));
    QCOMPARE(DriveMap::nameToNative(driveForm), QByteArray("a\\b.wav"));
}

void tst_DriveMap::lettersStayWithTheirVolumes()
{
    QList<Volume> volumes = { { "/media/usb", true } };
    DriveMap drives([&volumes] { return volumes; });
    QCOMPARE(drives.drives(), QStringList({ "C:", "D:" }));
    QVERIFY(drives.isAvailable("c:"));

    // A stick pulled out keeps its letter but is unavailable; a new volume takes the next letter.
    volumes = { { "/media/cdrom", true } };
    drives.rescan();
    QCOMPARE(drives.drives(), QStringList({ "C:", "D:", "E:" }));
    QVERIFY(!drives.isAvailable("D:"));
    QCOMPARE(drives.mountPoint("E:"), QStringLiteral("/media/cdrom"));

    volumes = { { "/media/cdrom", true }, { "/media/usb", true } };
    drives.rescan();
    QCOMPARE(drives.mountPoint("D:"), QStringLiteral("/media/usb"));
    QVERIFY(drives.isAvailable("D:") && !drives.isAvailable("F:"));

    // Letters end at Z:; volumes past it are left out.
    volumes.clear();
    for (int i = 0; i < 30; ++i)
        volumes.append({ QStringLiteral("/media/v%1").arg(i), true });
    drives.rescan();
    QCOMPARE(drives.drives().size(), 24);
    QCOMPARE(drives.drives().last(), QStringLiteral("Z:"));
    QCOMPARE(drives.mountPoint("Z:"), QStringLiteral("/media/v20"));
}

void tst_DriveMap::scan_data()
{
    QTest::addColumn<QString>("name"); // of the mountinfo and fstab files
    QTest::addColumn<QStringList>("expected");

    // Pseudo file systems, system folders, network mounts outside the removable folders and
    // single-file binds are left out.
    QTest::newRow("desktop") << "desktop"
                             << QStringList { "/data (mounted)", "/run/media/anna/SOUNDS (mounted)",
                                    "/media/anna/USB STICK (mounted)", "/mnt/nas (mounted)",
                                    "/media/anna/sshbox (mounted)", "/media/cdrom0 (empty)", "/cdrom (empty)",
                                    "/mnt/backup (empty)", "/media/dvd (empty)" };
    QTest::newRow("octal escapes decoded, inexact names left out")
        << "escapes"
        << QStringList { "/media/anna/My Sounds\tTab (mounted)", "/media/anna/back\\slash (mounted)",
               QStringLiteral("/media/anna/été (mounted)"), "/media/anna/new\nline (mounted)",
               "/media/Optical Drive (empty)" };
    QTest::newRow("automount points are empty until mounted; stacked mounts listed once")
        << "automount" << QStringList { "/mnt/backup (mounted)", "/media/stacked (mounted)", "/media/cdrom0 (empty)" };
}

void tst_DriveMap::scan()
{
    QFETCH(QString, name);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(scanVolumes(DataFolder + "mountinfo-" + name, DataFolder + "fstab-" + name)), expected);
}

void tst_DriveMap::bindMounts()
{
    // Only bind mounts are looked up, so an unreachable network mount never blocks the scan.
    QSet<QString> asked;
    const auto isFolder = [&](const QString &path) {
        asked.insert(path);
        return path == QLatin1String("/mnt/music");
    };
    QFile mountInfo(DataFolder + "mountinfo-desktop");
    QVERIFY(mountInfo.open(QIODevice::ReadOnly));
    const QStringList volumes = describe(parseVolumes(mountInfo.readAll(), QByteArray(), isFolder));
    QCOMPARE(asked, (QSet<QString> { "/media/anna/hosts", "/mnt/music" }));
    QVERIFY(volumes.contains("/mnt/music (mounted)") && !volumes.contains("/media/anna/hosts (mounted)"));
}

QTEST_GUILESS_MAIN(tst_DriveMap)
#include "tst_drivemap.moc"
