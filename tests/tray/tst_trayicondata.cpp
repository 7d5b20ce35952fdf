#include "app/Main.h"
#include "support/FakeDesktop.h"
#include "tray/TrayIconData.h"

#include <QAction>
#include <QTest>
#include <QtEndian>

/// The 88-byte notification-area record: its wire layout and what Minimize writes into it.
class tst_TrayIconData : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshRecordIsEightyEightZeroBytes();
    void fieldsAfterMinimize_data();
    void fieldsAfterMinimize();
    void tipPadding_data();
    void tipPadding();
};

namespace {

quint32 fieldAt(const QByteArray &bytes, int offset)
{
    return qFromLittleEndian<quint32>(bytes.constData() + offset);
}

} // namespace

void tst_TrayIconData::freshRecordIsEightyEightZeroBytes()
{
    const TrayIconData record;
    QCOMPARE(record.toBytes(), QByteArray(TrayIconData::Size, '\0'));
    QCOMPARE(record.toBytes().size(), 88);
    QCOMPARE(record.tip(), QString());
}

void tst_TrayIconData::fieldsAfterMinimize_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("offset");

    QTest::newRow("cbSize") << "cbSize" << 0;
    QTest::newRow("hWnd") << "hWnd" << 4;
    QTest::newRow("uID") << "uID" << 8;
    QTest::newRow("uFlags") << "uFlags" << 12;
    QTest::newRow("uCallbackMessage") << "uCallbackMessage" << 16;
    QTest::newRow("hIcon") << "hIcon" << 20;
}

void tst_TrayIconData::fieldsAfterMinimize()
{
    QFETCH(QString, field);
    QFETCH(int, offset);

    FakeDesktop desktop;
    desktop.nextIconHandle = 0x0badf00d;
    Main main(desktop);
    main.show();
    main.findChild<QAction *>(QStringLiteral("mnuMinimize"))->trigger();

    QCOMPARE(desktop.notifyCalls.size(), 1);
    const QByteArray sent = desktop.notifyCalls.first().data.toBytes();
    QCOMPARE(sent.size(), 88);
    QCOMPARE(main.state().trayIconData.toBytes(), sent);

    const QHash<QString, quint32> expected{
        {"cbSize", 88},
        {"hWnd", quint32(main.winId())},
        {"uID", 1},
        {"uFlags", 7},
        {"uCallbackMessage", 512},
        {"hIcon", 0x0badf00d},
    };
    QCOMPARE(fieldAt(sent, offset), expected.value(field));
}

void tst_TrayIconData::tipPadding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("shown");

    QTest::newRow("the restore tip") << "Restore Ombrix Converter" << QByteArray("Restore Ombrix Converter");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("63 characters fill the field") << QString(63, 'x') << QByteArray(63, 'x');
    QTest::newRow("longer text is cut to keep the NUL") << QString(80, 'y') << QByteArray(63, 'y');
    QTest::newRow("Latin-1 stays one byte") << QString::fromUtf8("Caf\u00e9") << QByteArray("Caf\xe9");
    QTest::newRow("outside the code page") << QString::fromUtf8("\u266a tune") << QByteArray("? tune");
}

void tst_TrayIconData::tipPadding()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, shown);

    TrayIconData record;
    record.setTip(text);
    const QByteArray field = record.toBytes().mid(24);
    QCOMPARE(field.size(), 64);
    QCOMPARE(field.left(shown.size()), shown);
    QCOMPARE(field.at(shown.size()), '\0');
    QCOMPARE(field.mid(shown.size() + 1), QByteArray(63 - shown.size(), ' '));
    QCOMPARE(record.tip(), QString::fromLatin1(shown));
}

QTEST_MAIN(tst_TrayIconData)
#include "tst_trayicondata.moc"
