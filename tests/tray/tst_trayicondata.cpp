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
    void fieldsAfterMinimize();
    void tipPadding_data();
    void tipPadding();
};

void tst_TrayIconData::freshRecordIsEightyEightZeroBytes()
{
    QCOMPARE(TrayIconData().toBytes(), QByteArray(88, '\0'));
}

void tst_TrayIconData::fieldsAfterMinimize()
{
    FakeDesktop desktop;
    desktop.nextIconHandle = 0x0badf00d;
    Main main(desktop);
    main.show();
    main.findChild<QAction *>(QStringLiteral("mnuMinimize"))->trigger();

    QCOMPARE(desktop.notifyCalls.size(), 1);
    const QByteArray sent = desktop.notifyCalls.first().data.toBytes();
    QCOMPARE(sent.size(), 88);
    QCOMPARE(main.state().trayIconData.toBytes(), sent);
    // cbSize, hWnd, uID, uFlags, uCallbackMessage, hIcon at 0, 4, ... 20, little-endian.
    const quint32 expected[] = {88, quint32(main.winId()), 1, 7, 512, 0x0badf00d};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(qFromLittleEndian<quint32>(sent.constData() + 4 * i), expected[i]);
    QCOMPARE(sent.mid(24, 25), QByteArray("Restore Ombrix Converter", 25));
}

void tst_TrayIconData::tipPadding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("shown");

    QTest::newRow("the restore tip") << "Restore Ombrix Converter" << QByteArray("Restore Ombrix Converter");
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
