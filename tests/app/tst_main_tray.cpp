#include "app/Main.h"
#include "support/FakeDesktop.h"

#include <QAction>
#include <QSignalSpy>
#include <QTest>

/// Minimize to the notification area, restore from it and unload, against the fake desktop.
class tst_MainTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void hideThenAddAndRestoreOn513Or517Only_data();
    void hideThenAddAndRestoreOn513Or517Only();
    void minimizeAgainAddsWithCurrentHandles();
    void unloadDeletes_data();
    void unloadDeletes();
    void noTrayKeepsWindowAndWarnsOnce_data();
    void noTrayKeepsWindowAndWarnsOnce();

private:
    void minimize() { main->findChild<QAction *>(QStringLiteral("mnuMinimize"))->trigger(); }
    const TrayIconData &record() const { return main->state().trayIconData; }

    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<Main> main;
};

void tst_MainTray::init()
{
    desktop = std::make_unique<FakeDesktop>();
    main = std::make_unique<Main>(*desktop);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
}

void tst_MainTray::cleanup()
{
    main.reset();
    desktop.reset();
}

void tst_MainTray::hideThenAddAndRestoreOn513Or517Only_data()
{
    QTest::addColumn<qint32>("mouseMessage");
    QTest::addColumn<quint32>("otherWindow");
    QTest::addColumn<quint32>("otherIcon");
    QTest::addColumn<bool>("restores");

    QTest::newRow("512 move") << 512 << 0u << 0u << false;
    QTest::newRow("513 left press") << 513 << 0u << 0u << true;
    QTest::newRow("514 left release") << 514 << 0u << 0u << false;
    QTest::newRow("515 left double click") << 515 << 0u << 0u << false;
    QTest::newRow("516 right press") << 516 << 0u << 0u << false;
    QTest::newRow("517 right release") << 517 << 0u << 0u << true;
    QTest::newRow("518 right double click") << 518 << 0u << 0u << false;
    QTest::newRow("513 for another window") << 513 << 1u << 0u << false;
    QTest::newRow("517 for another icon number") << 517 << 0u << 1u << false;
}

void tst_MainTray::hideThenAddAndRestoreOn513Or517Only()
{
    QFETCH(qint32, mouseMessage);
    QFETCH(quint32, otherWindow);
    QFETCH(quint32, otherIcon);
    QFETCH(bool, restores);

    minimize();
    QCOMPARE(desktop->notifyCalls.size(), 1);
    QCOMPARE(desktop->notifyCalls.first().message, quint32(DesktopServices::AddIcon));
    QVERIFY2(!desktop->notifyCalls.first().ownerVisible, "the icon was added while the window was still shown");
    const TrayIconData added = record();
    QCOMPARE(added.cbSize, 88u);
    QCOMPARE(added.uFlags, 7u);
    QCOMPARE(added.uCallbackMessage, 512u);
    QCOMPARE(added.tip(), QStringLiteral("Restore Ombrix Converter"));
    TrayIconData target = added;
    target.hWnd += otherWindow;
    target.uID += otherIcon;
    desktop->clickTray(target, mouseMessage);

    QCOMPARE(main->state().trayMessage, otherWindow || otherIcon ? 0 : mouseMessage);
    QCOMPARE(main->isVisible(), restores);
    QCOMPARE(desktop->notifyCalls.size(), restores ? 2 : 1);
    if (restores) {
        const FakeDesktop::NotifyCall &removal = desktop->notifyCalls.last();
        QCOMPARE(removal.message, quint32(DesktopServices::DeleteIcon));
        QVERIFY2(removal.ownerVisible, "the icon went before the window came back");
        QCOMPARE(removal.data, added);
    }
}

void tst_MainTray::minimizeAgainAddsWithCurrentHandles()
{
    minimize();
    const TrayIconData first = record();
    desktop->clickTray(first, 513);
    minimize();

    QCOMPARE(desktop->notifyCalls.size(), 3);
    const FakeDesktop::NotifyCall &again = desktop->notifyCalls.last();
    QCOMPARE(again.message, quint32(DesktopServices::AddIcon));
    QCOMPARE(again.data.uID, 1u);
    QCOMPARE(again.data.hWnd, quint32(main->winId()));
    // The fake hands out a new icon handle on every request: the record must hold the new one.
    QCOMPARE(again.data.hIcon, desktop->nextIconHandle - 1);
    QVERIFY(again.data.hIcon != first.hIcon);
}

void tst_MainTray::unloadDeletes_data()
{
    QTest::addColumn<bool>("minimized");

    QTest::newRow("never minimized") << false;
    QTest::newRow("in the tray") << true;
}

void tst_MainTray::unloadDeletes()
{
    QFETCH(bool, minimized);

    if (minimized)
        minimize();
    const TrayIconData held = record();
    QCOMPARE(held == TrayIconData(), !minimized);
    const auto callsBefore = desktop->notifyCalls.size();

    QSignalSpy unloaded(main.get(), &Main::unloaded);
    main->close();

    QCOMPARE(unloaded.size(), 1);
    QCOMPARE(desktop->notifyCalls.size(), callsBefore + 1);
    QCOMPARE(desktop->notifyCalls.last().message, quint32(DesktopServices::DeleteIcon));
    QCOMPARE(desktop->notifyCalls.last().data, held);
}

void tst_MainTray::noTrayKeepsWindowAndWarnsOnce_data()
{
    QTest::addColumn<bool>("lostLater");

    QTest::newRow("add refused") << false;
    QTest::newRow("tray gone with the icon") << true;
}

void tst_MainTray::noTrayKeepsWindowAndWarnsOnce()
{
    QFETCH(bool, lostLater);

    desktop->trayAvailable = lostLater;
    minimize();
    if (lostLater) {
        QVERIFY(!main->isVisible());
        desktop->loseTray(record());
        // As on restore: the icon is deleted.
        QCOMPARE(desktop->notifyCalls.last().message, quint32(DesktopServices::DeleteIcon));
    }
    QVERIFY(main->isVisible());
    QCOMPARE(desktop->notifyCalls.size(), lostLater ? 2 : 1);
    QCOMPARE(desktop->messageBoxes.size(), 1);
    const FakeDesktop::MessageBoxCall &warning = desktop->messageBoxes.first();
    QCOMPARE(warning.text, QStringLiteral("The notification area is not available !"));
    QCOMPARE(warning.flags, 48);
    QCOMPARE(warning.title, QStringLiteral("Ombrix Converter"));

    // The tray came back: the next Minimize works as usual.
    desktop->trayAvailable = true;
    minimize();
    QVERIFY(!main->isVisible());
    QCOMPARE(desktop->messageBoxes.size(), 1);
}

QTEST_MAIN(tst_MainTray)
#include "tst_main_tray.moc"
