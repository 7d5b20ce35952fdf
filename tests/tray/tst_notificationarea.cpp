#include "tray/NotificationArea.h"
#include "tray/StatusNotifierArea.h"
#include "tray/TrayIconWidget.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

/// Which tray takes an icon and where its removal goes; a StatusNotifierItem watcher that never
/// answers; what each mouse action on the XEmbed icon window reports.
class tst_NotificationArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstAcceptingTrayKeepsTheIcon();
    void watcherNeverBlocksTheWindow_data();
    void watcherNeverBlocksTheWindow();
    void iconMouseActions_data();
    void iconMouseActions();
};

namespace {

/// A tray that accepts or refuses as told and records what it was asked, in order.
class RecordingTray : public NotificationArea
{
public:
    bool add(const TrayIconData &data, const QIcon &) override
    {
        calls.append(QStringLiteral("add %1").arg(data.uID));
        return accepts;
    }

    bool remove(const TrayIconData &data) override
    {
        calls.append(QStringLiteral("remove %1").arg(data.uID));
        return true;
    }

    bool accepts = false;
    QStringList calls;
};

/// A StatusNotifierItem watcher that answers every call with "true", the question for a host
/// only, or never at all.
struct FakeWatcher : QDBusVirtualObject
{
    bool answers = false;
    bool hangsAfterward = false;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        return !answers || (hangsAfterward && message.member() != QLatin1String("Get"))
            || bus.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
    }
    QString introspect(const QString &) const override { return {}; }
};

/// The icon window, shown, with the pointer on it already so that a press is not preceded by
/// Qt's own move.
std::unique_ptr<TrayIconWidget> shownIcon()
{
    auto icon = std::make_unique<TrayIconWidget>(QIcon(QPixmap(16, 16)), QStringLiteral("Restore Ombrix Converter"));
    icon->move(40, 40);
    icon->show();
    if (QTest::qWaitForWindowExposed(icon.get()))
        QTest::mouseMove(icon->windowHandle(), icon->rect().center());
    QCoreApplication::processEvents();
    return icon;
}

} // namespace

void tst_NotificationArea::firstAcceptingTrayKeepsTheIcon()
{
    auto *xembed = new RecordingTray;
    auto *other = new RecordingTray;
    std::vector<std::unique_ptr<NotificationArea>> trays;
    trays.emplace_back(xembed);
    trays.emplace_back(other);
    const std::unique_ptr<NotificationArea> area = NotificationArea::firstAccepting(std::move(trays));

    // No tray at all, then only the second one. The first one, started since, takes new icons
    // only; an icon already shown is updated where it is.
    QVERIFY(!area->add({ .uID = 1 }, QIcon()));
    other->accepts = true;
    QVERIFY(area->add({ .uID = 1 }, QIcon()));
    xembed->accepts = true;
    QVERIFY(area->add({ .uID = 1 }, QIcon()));
    QVERIFY(area->add({ .uID = 2 }, QIcon()));

    // A removal goes to the icon's tray; one of an icon never added, or already gone, nowhere. The
    // program never looks at what a removal returns.
    for (const quint32 id : { 3, 1, 1, 2 })
        area->remove({ .uID = id });
    QCOMPARE(xembed->calls, (QStringList { "add 1", "add 1", "add 2", "remove 2" }));
    QCOMPARE(other->calls, (QStringList { "add 1", "add 1", "add 1", "remove 1" }));
}

void tst_NotificationArea::watcherNeverBlocksTheWindow_data()
{
    QTest::addColumn<QString>("watcher");
    QTest::newRow("no watcher") << "none";
    QTest::newRow("a host registered") << "answers";
    // Qt's own tray icon waited 25 s for such a watcher.
    QTest::newRow("a host, then the watcher hangs") << "answers, then hangs";
    QTest::newRow("watcher never answers") << "hangs";
}

void tst_NotificationArea::watcherNeverBlocksTheWindow()
{
    QFETCH(QString, watcher);
    const bool kept = watcher.startsWith("answers");
    QProcess daemon;
    daemon.start("dbus-daemon", { "--session", "--nofork", "--print-address" });
    QVERIFY2(daemon.waitForReadyRead(10000), "no private session bus");
    const QString address = QString::fromLatin1(daemon.readLine().trimmed()), name = QTest::currentDataTag();
    QDBusConnection watcherBus = QDBusConnection::connectToBus(address, "watcher " + name);
    FakeWatcher fake;
    fake.answers = kept;
    fake.hangsAfterward = watcher.endsWith("then hangs");
    if (watcher != "none") {
        QVERIFY(watcherBus.registerVirtualObject("/StatusNotifierWatcher", &fake));
        QVERIFY(watcherBus.registerService("org.kde.StatusNotifierWatcher"));
    }

    // The longest time the event loop runs nothing, from before the area asks its first question.
    QElapsedTimer clock;
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, &ticks, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    clock.start();
    ticks.start(10);

    StatusNotifierArea area(QDBusConnection::connectToBus(address, "area " + name));
    QSignalSpy lost(&area, &NotificationArea::iconLost);
    const QIcon image(QPixmap(16, 16));
    // Accepted while the question is open; a watcher that does not answer counts as none in time.
    QVERIFY(area.add({ .uID = 1 }, image));
    QTest::qWait(NotificationArea::LostGraceMs + 1000);
    QCOMPARE(lost.count(), kept ? 0 : 1);
    QCOMPARE(area.findChildren<StatusNotifierItem *>().size(), kept ? 1 : 0);
    // Once answered, or given up on, the next icon is refused at once where no host is.
    QCOMPARE(area.add({ .uID = 2 }, image), kept);
    // One item a connection: a second icon shows nowhere, and so is lost rather than kept hidden.
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, NotificationArea::LostGraceMs + 1000);
    QTest::qWait(50);
    qInfo("longest time without events: %lld ms", longestGap);
    QVERIFY2(longestGap < NotificationArea::LostGraceMs, qPrintable(QString::number(longestGap)));
    daemon.close();
}

void tst_NotificationArea::iconMouseActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<qint32>>("expected");

    // A press alone is reported at once, without waiting for its release, and a move that
    // arrives before the event loop runs again does not overtake it.
    QTest::newRow("left press") << "press" << Qt::LeftButton << QList<qint32> { 513 };
    QTest::newRow("left press, then a move") << "drag" << Qt::LeftButton << QList<qint32> { 513, 512 };
    // The desktop's convention: the second press of a double click comes as the double click.
    QTest::newRow("left double click") << "double" << Qt::LeftButton << QList<qint32> { 513, 514, 515, 514 };
    QTest::newRow("right double click") << "double" << Qt::RightButton << QList<qint32> { 516, 517, 518, 517 };
}

void tst_NotificationArea::iconMouseActions()
{
    QFETCH(QString, action);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<qint32>, expected);

    const std::unique_ptr<TrayIconWidget> icon = shownIcon();
    QList<qint32> reported;
    connect(icon.get(), &TrayIconWidget::mouseMessage, icon.get(), [&](qint32 message) { reported.append(message); });
    // Through the window, as the platform delivers them, so that Qt makes its own double clicks.
    QWindow *window = icon->windowHandle();
    const QPoint centre = icon->rect().center();
    if (action == "double") {
        QTest::mouseDClick(window, button, {}, centre);
    } else {
        // Sent to the widget, a move comes before the event loop runs the held-back press.
        QTest::mousePress(icon.get(), button, {}, centre);
        if (action == "drag")
            QTest::mouseMove(icon.get(), centre + QPoint(1, 1));
    }
    QCoreApplication::processEvents();
    QCOMPARE(reported, expected);
    if (action != "double")
        QTest::mouseRelease(icon.get(), button, {}, centre);
}

QTEST_MAIN(tst_NotificationArea)
#include "tst_notificationarea.moc"
