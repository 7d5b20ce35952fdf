#include "app/desktop/KeyLockMonitor.h"
#include "tray/NotificationArea.h"
#include "tray/StatusNotifierArea.h"

#include <QSignalSpy>
#include <QTest>

/// Which tray takes an icon, where its removal goes, how a StatusNotifierItem host's
/// activations count, and what is left without any desktop at all (offscreen).
class tst_NotificationArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstAcceptingTrayTakesTheIcon_data();
    void firstAcceptingTrayTakesTheIcon();
    void removalGoesToTheTrayHoldingTheIcon();
    void addingAgainUpdatesInTheSameTray();
    void reportsCarryWindowAndIcon();
    void statusNotifierActivations_data();
    void statusNotifierActivations();
    void withoutAnyDesktopAddIsRefused();
};

namespace {

/// A tray that accepts or refuses as told and records what it was asked.
class RecordingTray : public NotificationArea
{
public:
    explicit RecordingTray(bool accepts)
        : accepts(accepts)
    {
    }

    bool add(const TrayIconData &data, const QIcon &) override
    {
        adds.append(data.uID);
        if (accepts)
            held.insert(data.uID);
        return accepts;
    }

    bool remove(const TrayIconData &data) override
    {
        removes.append(data.uID);
        return held.remove(data.uID);
    }

    void click(quint32 window, quint32 iconId, qint32 message) { emit mouseMessage(window, iconId, message); }

    bool accepts;
    QSet<quint32> held;
    QList<quint32> adds;
    QList<quint32> removes;
};

TrayIconData recordFor(quint32 window, quint32 iconId)
{
    TrayIconData data;
    data.cbSize = TrayIconData::Size;
    data.hWnd = window;
    data.uID = iconId;
    data.setTip(QStringLiteral("Restore Ombrix Converter"));
    return data;
}

struct Trays
{
    std::unique_ptr<NotificationArea> area;
    RecordingTray *first = nullptr;
    RecordingTray *second = nullptr;
};

Trays makeTrays(bool firstAccepts, bool secondAccepts)
{
    Trays trays;
    auto first = std::make_unique<RecordingTray>(firstAccepts);
    auto second = std::make_unique<RecordingTray>(secondAccepts);
    trays.first = first.get();
    trays.second = second.get();
    std::vector<std::unique_ptr<NotificationArea>> list;
    list.push_back(std::move(first));
    list.push_back(std::move(second));
    trays.area = NotificationArea::firstAccepting(std::move(list));
    return trays;
}

} // namespace

void tst_NotificationArea::initTestCase()
{
    // No session bus: nothing may hang or fail loudly looking for a StatusNotifierItem host.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ombrix-test-bus");
}

void tst_NotificationArea::firstAcceptingTrayTakesTheIcon_data()
{
    QTest::addColumn<bool>("firstAccepts");
    QTest::addColumn<bool>("secondAccepts");
    QTest::addColumn<bool>("added");
    QTest::addColumn<int>("secondAsked");

    QTest::newRow("XEmbed tray running") << true << true << true << 0;
    QTest::newRow("only a StatusNotifierItem host") << false << true << true << 1;
    QTest::newRow("no tray at all") << false << false << false << 1;
}

void tst_NotificationArea::firstAcceptingTrayTakesTheIcon()
{
    QFETCH(bool, firstAccepts);
    QFETCH(bool, secondAccepts);
    QFETCH(bool, added);
    QFETCH(int, secondAsked);

    Trays trays = makeTrays(firstAccepts, secondAccepts);
    QCOMPARE(trays.area->add(recordFor(7, 1), QIcon()), added);
    QCOMPARE(trays.first->adds.size(), 1);
    QCOMPARE(trays.second->adds.size(), secondAsked);
}

void tst_NotificationArea::removalGoesToTheTrayHoldingTheIcon()
{
    Trays trays = makeTrays(false, true);
    QVERIFY(trays.area->add(recordFor(7, 1), QIcon()));

    // An icon never added, or already gone, is no one's business: harmless and false.
    QVERIFY(!trays.area->remove(recordFor(7, 2)));
    QVERIFY(!trays.area->remove(TrayIconData()));
    QVERIFY(trays.first->removes.isEmpty());
    QVERIFY(trays.second->removes.isEmpty());

    QVERIFY(trays.area->remove(recordFor(7, 1)));
    QVERIFY(trays.first->removes.isEmpty());
    QCOMPARE(trays.second->removes, QList<quint32>{1});
    QVERIFY(!trays.area->remove(recordFor(7, 1)));
    QCOMPARE(trays.second->removes.size(), 1);
}

void tst_NotificationArea::addingAgainUpdatesInTheSameTray()
{
    Trays trays = makeTrays(false, true);
    QVERIFY(trays.area->add(recordFor(7, 1), QIcon()));
    // The XEmbed tray started meanwhile; the icon stays where it is.
    trays.first->accepts = true;
    QVERIFY(trays.area->add(recordFor(7, 1), QIcon()));
    QCOMPARE(trays.first->adds.size(), 1);
    QCOMPARE(trays.second->adds.size(), 2);
}

void tst_NotificationArea::reportsCarryWindowAndIcon()
{
    Trays trays = makeTrays(true, true);
    QSignalSpy reports(trays.area.get(), &NotificationArea::mouseMessage);
    trays.first->click(7, 1, 513);
    trays.second->click(9, 2, 517);
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports.at(0), (QList<QVariant>{7u, 1u, 513}));
    QCOMPARE(reports.at(1), (QList<QVariant>{9u, 2u, 517}));
}

void tst_NotificationArea::statusNotifierActivations_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<qint32>("message");

    QTest::newRow("activation is a left press") << QSystemTrayIcon::Trigger << 513;
    QTest::newRow("context request is a right release") << QSystemTrayIcon::Context << 517;
    QTest::newRow("double click is nothing") << QSystemTrayIcon::DoubleClick << 0;
    QTest::newRow("middle click is nothing") << QSystemTrayIcon::MiddleClick << 0;
    QTest::newRow("unknown is nothing") << QSystemTrayIcon::Unknown << 0;
}

void tst_NotificationArea::statusNotifierActivations()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(qint32, message);
    QCOMPARE(StatusNotifierArea::mouseMessageFor(reason), message);
}

void tst_NotificationArea::withoutAnyDesktopAddIsRefused()
{
    QVERIFY(!StatusNotifierArea::hostAvailable());
    const std::unique_ptr<NotificationArea> area = NotificationArea::create();
    QVERIFY(!area->add(recordFor(7, 1), QIcon()));
    QVERIFY(!area->remove(recordFor(7, 1)));
    QVERIFY(!area->remove(TrayIconData()));

    // Offscreen, the key locks are simply unknown.
    const std::unique_ptr<KeyLockMonitor> locks = KeyLockMonitor::create();
    QVERIFY(!locks->state().numLock.has_value());
    QVERIFY(!locks->state().capsLock.has_value());
}

QTEST_MAIN(tst_NotificationArea)
#include "tst_notificationarea.moc"
