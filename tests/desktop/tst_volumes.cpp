#include "app/desktop/Volumes.h"

#include <QFile>
#include <QSet>
#include <QTest>

namespace {

// One line per volume, so that a mismatch shows which one and how.
QStringList describe(const QList<Volume> &volumes)
{
    QStringList lines;
    for (const Volume &volume : volumes)
        lines.append(
            volume.mountPoint + (volume.available ? QStringLiteral(" (mounted)") : QStringLiteral(" (empty)")));
    return lines;
}

} // namespace

class tst_Volumes : public QObject
{
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
    void bindMounts();
};

void tst_Volumes::scan_data()
{
    QTest::addColumn<QString>("mountInfo");
    QTest::addColumn<QString>("fstab");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("desktop with sticks, network and optical drives")
        << QStringLiteral("mountinfo-desktop") << QStringLiteral("fstab-desktop")
        << QStringList { "/data (mounted)", "/run/media/anna/SOUNDS (mounted)", "/media/anna/USB STICK (mounted)",
               "/mnt/nas (mounted)", "/media/anna/sshbox (mounted)", "/media/cdrom0 (empty)", "/cdrom (empty)",
               "/mnt/backup (empty)", "/media/dvd (empty)" };
    QTest::newRow("container: pseudo file systems and single-file binds only")
        << QStringLiteral("mountinfo-container") << QStringLiteral("no-such-fstab") << QStringList();
    QTest::newRow("octal escapes decoded, inexact names left out")
        << QStringLiteral("mountinfo-escapes") << QStringLiteral("fstab-escapes")
        << QStringList { "/media/anna/My Sounds\tTab (mounted)", "/media/anna/back\\slash (mounted)",
               QStringLiteral("/media/anna/été (mounted)"), "/media/anna/new\nline (mounted)",
               "/media/Optical Drive (empty)" };
    QTest::newRow("automount points are empty until mounted; stacked mounts listed once")
        << QStringLiteral("mountinfo-automount") << QStringLiteral("fstab-automount")
        << QStringList { "/mnt/backup (mounted)", "/media/stacked (mounted)", "/media/cdrom0 (empty)" };
}

void tst_Volumes::scan()
{
    QFETCH(QString, mountInfo);
    QFETCH(QString, fstab);
    QFETCH(QStringList, expected);

    const QString dataFolder = QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/desktop/data");
    QCOMPARE(describe(scanVolumes(dataFolder + QLatin1Char('/') + mountInfo, dataFolder + QLatin1Char('/') + fstab)),
        expected);
}

void tst_Volumes::bindMounts()
{
    // Only bind mounts are looked up, so an unreachable network mount never blocks the scan.
    QSet<QString> asked;
    const auto isFolder = [&](const QString &path) {
        asked.insert(path);
        return path == QLatin1String("/mnt/music");
    };
    QFile mountInfo(QStringLiteral(OMBRIX_TEST_SOURCE_DIR "/desktop/data/mountinfo-desktop"));
    QVERIFY(mountInfo.open(QIODevice::ReadOnly));
    const QStringList volumes = describe(parseVolumes(mountInfo.readAll(), QByteArray(), isFolder));
    QCOMPARE(asked, (QSet<QString> { "/media/anna/hosts", "/mnt/music" }));
    QVERIFY(volumes.contains(QStringLiteral("/mnt/music (mounted)")));
    QVERIFY(!volumes.contains(QStringLiteral("/media/anna/hosts (mounted)")));
}

QTEST_GUILESS_MAIN(tst_Volumes)
#include "tst_volumes.moc"
