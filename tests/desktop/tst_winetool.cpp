#include "app/desktop/DesktopError.h"
#include "app/desktop/WineTool.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

Q_DECLARE_METATYPE(PeMachine)

/// Reads real mingw-built PE files and damaged copies of them; the rest is pure rules.
class tst_WineTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void peDetection_data();
    void peDetection();
    void windowsPaths_data();
    void windowsPaths();
    void environment_data();
    void environment();
    void startOrRefusal_data();
    void startOrRefusal();
};

static QByteArray toolBytes(const char *name)
{
    QFile file(qEnvironmentVariable("OMBRIX_PE_TOOLS") + QLatin1Char('/') + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_WineTool::peDetection_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<PeMachine>("machine");

    const QByteArray pe64 = toolBytes("copytolip64.exe");
    const QByteArray pe32 = toolBytes("copytolip32.exe");
    QVERIFY(pe64.size() > 1024 && pe32.size() > 1024);
    const quint32 offset = qFromLittleEndian<quint32>(pe64.constData() + 0x3C);

    QByteArray arm64 = pe64;
    qToLittleEndian<quint16>(0xAA64, arm64.data() + offset + 4);
    QByteArray badOffset = pe64;
    qToLittleEndian<quint32>(0x7FFFFFF0, badOffset.data() + 0x3C);
    QByteArray noSignature = pe64;
    noSignature[offset] = 'X';

    QTest::newRow("PE32+ by mingw") << pe64 << PeMachine::X86_64;
    QTest::newRow("PE32 by mingw") << pe32 << PeMachine::I386;
    QTest::newRow("another processor") << arm64 << PeMachine::Other;
    QTest::newRow("truncated in the machine field") << pe64.left(offset + 5) << PeMachine::NotWindows;
    QTest::newRow("truncated in the DOS header") << pe64.left(0x3E) << PeMachine::NotWindows;
    QTest::newRow("MZ with an offset past the end") << badOffset << PeMachine::NotWindows;
    QTest::newRow("MZ without the PE signature") << noSignature << PeMachine::NotWindows;
    QTest::newRow("shell script") << QByteArray("#!/bin/sh\nexec oggenc \"$1\"\n").repeated(8) << PeMachine::NotWindows;
}

void tst_WineTool::peDetection()
{
    QFETCH(QByteArray, bytes);
    QFETCH(PeMachine, machine);
    QTemporaryDir dir;
    QFile file(dir.filePath("tool.exe"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QCOMPARE(peMachine(file.fileName()), machine);
}

void tst_WineTool::windowsPaths_data()
{
    QTest::addColumn<QString>("native");
    QTest::addColumn<QString>("windows");

    QTest::newRow("space and non-ASCII") << QString::fromUtf8("/tmp/My Sounds é/voice 01.wav")
                                         << QString::fromUtf8("Z:\\tmp\\My Sounds é\\voice 01.wav");
    QTest::newRow("root") << "/"
                          << "Z:\\";
    QTest::newRow("dots inside a name") << "/a/.hidden/v.1.wav"
                                        << "Z:\\a\\.hidden\\v.1.wav";
    // Refused: Wine could not hand these names to the tool, which would fail without a word.
    QTest::newRow("backslash") << "/a/back\\slash.wav" << QString();
    QTest::newRow("wildcard, quote, pipe") << "/a/take*\"|\".wav" << QString();
    QTest::newRow("control character") << "/a/two\nlines.wav" << QString();
    QTest::newRow("trailing space") << "/a/voice.wav " << QString();
    QTest::newRow("folder ending in a dot") << "/a/take 2./voice.wav" << QString();
}

void tst_WineTool::windowsPaths()
{
    QFETCH(QString, native);
    QFETCH(QString, windows);
    try {
        QCOMPARE(windowsPath(native), windows);
        QVERIFY(!windows.isEmpty());
    } catch (const DesktopError &error) {
        QVERIFY2(windows.isEmpty(), qPrintable(error.description));
        QCOMPARE(error.number, int(DesktopError::BadFileName));
        QVERIFY(error.description.startsWith(native + QLatin1Char(':')));
    }
}

void tst_WineTool::environment_data()
{
    QTest::addColumn<QStringList>("ours");
    QTest::addColumn<QStringList>("expected");

    const QStringList fresh = { "WINEDEBUG=-all", "WINEDLLOVERRIDES=winemenubuilder.exe=d", "LC_ALL=C.UTF-8" };
    QTest::newRow("nothing set") << QStringList { "PATH=/usr/bin" } << QStringList { "PATH=/usr/bin" } + fresh;
    QTest::newRow("the user's choices kept")
        << QStringList { "WINEDEBUG=+relay", "WINEDLLOVERRIDES=d3dx9=n", "LANG=ja_JP.UTF-8", "WINEPREFIX=/p" }
        << QStringList { "WINEDEBUG=+relay", "LANG=ja_JP.UTF-8", "WINEPREFIX=/p",
               "WINEDLLOVERRIDES=d3dx9=n;winemenubuilder.exe=d" };
    QTest::newRow("LC_ALL=C over a UTF-8 LANG")
        << QStringList { "LC_ALL=C", "LANG=en_US.UTF-8" } << QStringList { "LANG=en_US.UTF-8" } + fresh;
    QTest::newRow("utf8 with a modifier") << QStringList { "LC_CTYPE=de_DE.utf8@euro", "LANG=C" }
                                          << QStringList { "LC_CTYPE=de_DE.utf8@euro", "LANG=C", fresh[0], fresh[1] };
}

void tst_WineTool::environment()
{
    QFETCH(QStringList, ours);
    QFETCH(QStringList, expected);
    QStringList result = wineEnvironment(ours);
    result.sort();
    expected.sort();
    QCOMPARE(result, expected);
}

void tst_WineTool::startOrRefusal_data()
{
    QTest::addColumn<PeMachine>("machine");
    QTest::addColumn<QString>("wine");
    QTest::addColumn<bool>("runs32Bit");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("named");

    const QString sound = QString::fromUtf8("/tmp/My é/a.wav");
    QTest::newRow("64-bit") << PeMachine::X86_64 << "/usr/bin/wine" << false << sound << 0 << QString();
    QTest::newRow("32-bit with wine32") << PeMachine::I386 << "/usr/bin/wine" << true << sound << 0 << QString();
    QTest::newRow("no argument") << PeMachine::X86_64 << "/usr/bin/wine" << false << QString() << 0 << QString();
    QTest::newRow("no wine") << PeMachine::X86_64 << QString() << true << sound << int(DesktopError::FileNotFound)
                             << "/d/tool.exe is a Windows program and needs Wine: install the wine package";
    QTest::newRow("32-bit without wine32")
        << PeMachine::I386 << "/usr/bin/wine" << false << sound << int(DesktopError::FileNotFound)
        << "dpkg --add-architecture i386, apt-get update, apt-get install wine32:i386";
    QTest::newRow("another processor") << PeMachine::Other << "/usr/bin/wine" << true << sound
                                       << int(DesktopError::PathFileAccessError)
                                       << "/d/tool.exe: it is a Windows "
                                          "program for another processor";
    QTest::newRow("a name Windows cannot hold") << PeMachine::X86_64 << "/usr/bin/wine" << true << "/tmp/a?.wav"
                                                << int(DesktopError::BadFileName) << "/tmp/a?.wav";
}

void tst_WineTool::startOrRefusal()
{
    QFETCH(PeMachine, machine);
    QFETCH(QString, wine);
    QFETCH(bool, runs32Bit);
    QFETCH(QString, argument);
    QFETCH(int, number);
    QFETCH(QString, named);
    try {
        const ToolStart start = wineStart("/d/tool.exe", machine, argument, { wine, runs32Bit });
        QCOMPARE(number, 0);
        QCOMPARE(start.program, wine);
        QStringList expected { "/d/tool.exe" };
        if (!argument.isEmpty())
            expected.append(windowsPath(argument));
        QCOMPARE(start.arguments, expected);
    } catch (const DesktopError &error) {
        QCOMPARE(error.number, number);
        QVERIFY2(error.description.contains(named), qPrintable(error.description));
    }
}

QTEST_GUILESS_MAIN(tst_WineTool)
#include "tst_winetool.moc"
