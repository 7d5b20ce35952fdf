#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"

#include <QTest>

class tst_DriveMap : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toNative_data();
    void toNative();
    void unknownDrives_data();
    void unknownDrives();
    void names_data();
    void names();
    void lettersStayWithTheirVolumes();
};

namespace {
const QString BackslashInName = QString(DriveMap::BackslashInName);

QList<Volume> twoVolumes()
{
    return { { QStringLiteral("/media/usb"), true }, { QStringLiteral("/media/cdrom"), false } };
}
} // namespace

void tst_DriveMap::toNative_data()
{
    QTest::addColumn<QString>("drivePath");
    QTest::addColumn<QString>("native");

    QTest::newRow("root") << "C:\\"
                          << "/";
    QTest::newRow("file at the root, doubled backslash") << "C:\\\\voice01.wav"
                                                         << "/voice01.wav";
    QTest::newRow("shell characters kept") << "C:\\$(id);`ls`&|.wav"
                                           << "/$(id);`ls`&|.wav";
    QTest::newRow("backslash inside a name") << "C:\\tmp\\a" + BackslashInName + "b.wav"
                                             << "/tmp/a\\b.wav";
    QTest::newRow("second drive root") << "D:\\"
                                       << "/media/usb";
    QTest::newRow("unavailable drive still maps") << "E:\\x.wav"
                                                  << "/media/cdrom/x.wav";
}

void tst_DriveMap::toNative()
{
    QFETCH(QString, drivePath);
    QFETCH(QString, native);
    const DriveMap drives(twoVolumes);
    QCOMPARE(drives.toNative(drivePath), native);
}

void tst_DriveMap::unknownDrives_data()
{
    QTest::addColumn<QString>("drivePath");
    QTest::newRow("no such letter") << "Q:\\x.wav";
    QTest::newRow("relative") << "tmp\\x.wav";
    QTest::newRow("empty") << "";
}

void tst_DriveMap::unknownDrives()
{
    QFETCH(QString, drivePath);
    const DriveMap drives(twoVolumes);
    try {
        drives.toNative(drivePath);
        QFAIL("no error raised");
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, int(DesktopError::PathNotFound));
        QVERIFY(error.description.contains(drivePath));
    }
}

void tst_DriveMap::names_data()
{
    QTest::addColumn<QByteArray>("native");
    QTest::addColumn<QString>("driveForm");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << QByteArray("voice01.wav") << "voice01.wav"
                           << "voice01.wav";
    QTest::newRow("backslash") << QByteArray("a\\b.wav") << "a" + BackslashInName + "b.wav"
                               << "a\\b.wav";
    QTest::newRow("non-ASCII") << QString::fromUtf8("žluťoučký.wav").toUtf8() << QString::fromUtf8("žluťoučký.wav")
                               << QString::fromUtf8("žluťoučký.wav");
    QTest::newRow("invalid UTF-8 has no drive form") << QByteArray("bad\xff.wav") << QString() << QString();
    QTest::newRow("native U+F05C has no drive form")
        << QString("a" + BackslashInName + ".wav").toUtf8() << QString() << QString();
}

void tst_DriveMap::names()
{
    QFETCH(QByteArray, native);
    QFETCH(QString, driveForm);
    QFETCH(QString, shown);

    QCOMPARE(DriveMap::nameToDriveForm(native), driveForm);
    QCOMPARE(DriveMap::displayName(driveForm), shown);
    if (!driveForm.isEmpty())
        QCOMPARE(DriveMap::nameToNative(driveForm), native);
}

void tst_DriveMap::lettersStayWithTheirVolumes()
{
    QList<Volume> volumes = { { QStringLiteral("/media/usb"), true } };
    DriveMap drives([&volumes] { return volumes; });
    QCOMPARE(drives.drives(), QStringList({ "C:", "D:" }));
    QVERIFY(drives.isAvailable("c:"));

    // A stick pulled out keeps its letter but is unavailable; a new volume takes the next letter.
    volumes = { { QStringLiteral("/media/cdrom"), true } };
    drives.rescan();
    QCOMPARE(drives.drives(), QStringList({ "C:", "D:", "E:" }));
    QVERIFY(!drives.isAvailable("D:"));
    QCOMPARE(drives.mountPoint("E:"), QStringLiteral("/media/cdrom"));

    volumes = { { QStringLiteral("/media/cdrom"), true }, { QStringLiteral("/media/usb"), true } };
    drives.rescan();
    QCOMPARE(drives.mountPoint("D:"), QStringLiteral("/media/usb"));
    QVERIFY(drives.isAvailable("D:"));
    QVERIFY(!drives.isAvailable("F:"));
    QCOMPARE(drives.mountPoint("F:"), QString());

    // Letters end at Z:; volumes past it are left out.
    volumes.clear();
    for (int i = 0; i < 30; ++i)
        volumes.append({ QStringLiteral("/media/v%1").arg(i), true });
    drives.rescan();
    QCOMPARE(drives.drives().size(), 24);
    QCOMPARE(drives.drives().last(), QStringLiteral("Z:"));
    QCOMPARE(drives.mountPoint("Z:"), QStringLiteral("/media/v20"));
}

QTEST_GUILESS_MAIN(tst_DriveMap)
#include "tst_drivemap.moc"
