#include "tray/NotificationArea.h"
#include "tray/StatusNotifierArea.h"
#include "tray/TrayIconWidget.h"

#include <QSignalSpy>
#include <QTest>

/// Which tray takes an icon and where its removal goes, how a StatusNotifierItem host's
/// activations count, and the XEmbed icon window: what each mouse action reports, how it paints.
class tst_NotificationArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstAcceptingTrayTakesTheIcon_data();
    void firstAcceptingTrayTakesTheIcon();
    void theTrayHoldingTheIconKeepsIt();
    void withoutAnyDesktopAddIsRefused();
    void iconMouseActions_data();
    void iconMouseActions();
    void iconPaintsAtTheSizeGiven_data();
    void iconPaintsAtTheSizeGiven();
};

namespace {

/// A tray that accepts or refuses as told and records what it was asked.
class RecordingTray : public NotificationArea
{
public:
    bool add(const TrayIconData &data, const QIcon &) override
    {
        adds.append(data.uID);
        return accepts;
    }

    bool remove(const TrayIconData &data) override
    {
        removes.append(data.uID);
        return true;
    }

    bool accepts = false;
    QList<quint32> adds;
    QList<quint32> removes;
};

/// An area over two recording trays, the XEmbed one first.
struct Trays
{
    Trays(bool firstAccepts, bool secondAccepts)
    {
        std::vector<std::unique_ptr<NotificationArea>> list;
        list.push_back(std::make_unique<RecordingTray>());
        list.push_back(std::make_unique<RecordingTray>());
        first = static_cast<RecordingTray *>(list[0].get());
        second = static_cast<RecordingTray *>(list[1].get());
        first->accepts = firstAccepts;
        second->accepts = secondAccepts;
        area = NotificationArea::firstAccepting(std::move(list));
    }

    RecordingTray *first;
    RecordingTray *second;
    std::unique_ptr<NotificationArea> area;
};

/// The icon window, shown, with the pointer on it already so that a press is not preceded by
/// Qt's own move.
std::unique_ptr<TrayIconWidget> shownIcon()
{
    QPixmap red(128, 128);
    red.fill(Qt::red);
    auto icon = std::make_unique<TrayIconWidget>(QIcon(red), QStringLiteral("Restore Ombrix Converter"));
    icon->move(40, 40);
    icon->show();
    if (QTest::qWaitForWindowExposed(icon.get()))
        QTest::mouseMove(icon->windowHandle(), icon->rect().center());
    QCoreApplication::processEvents();
    return icon;
}

QList<qint32> reported(const QSignalSpy &spy)
{
    QList<qint32> messages;
    for (const QList<QVariant> &call : spy)
        messages.append(call.at(0).toInt());
    return messages;
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
    QTest::addColumn<int>("secondAsked");

    QTest::newRow("XEmbed tray running") << true << true << 0;
    QTest::newRow("only a StatusNotifierItem host") << false << true << 1;
    QTest::newRow("no tray at all") << false << false << 1;
}

void tst_NotificationArea::firstAcceptingTrayTakesTheIcon()
{
    QFETCH(bool, firstAccepts);
    QFETCH(bool, secondAccepts);
    QFETCH(int, secondAsked);

    Trays trays(firstAccepts, secondAccepts);
    QCOMPARE(trays.area->add(TrayIconData { .hWnd = 7, .uID = 1 }, QIcon()), firstAccepts || secondAccepts);
    QCOMPARE(trays.first->adds.size(), 1);
    QCOMPARE(trays.second->adds.size(), secondAsked);

    // Reports from either tray come through with their window and icon.
    QSignalSpy reports(trays.area.get(), &NotificationArea::mouseMessage);
    emit trays.second->mouseMessage(9, 2, 517);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0), (QList<QVariant> { 9u, 2u, 517 }));
}

void tst_NotificationArea::theTrayHoldingTheIconKeepsIt()
{
    Trays trays(false, true);
    QVERIFY(trays.area->add(TrayIconData { .hWnd = 7, .uID = 1 }, QIcon()));
    // The XEmbed tray started meanwhile; the icon is updated where it is.
    trays.first->accepts = true;
    QVERIFY(trays.area->add(TrayIconData { .hWnd = 7, .uID = 1 }, QIcon()));
    QCOMPARE(trays.first->adds.size(), 1);
    QCOMPARE(trays.second->adds.size(), 2);

    // An icon never added, or already gone, is no one's business: harmless and false.
    QVERIFY(!trays.area->remove(TrayIconData { .hWnd = 7, .uID = 2 }));
    QVERIFY(!trays.area->remove(TrayIconData()));
    QVERIFY(trays.area->remove(TrayIconData { .hWnd = 7, .uID = 1 }));
    QVERIFY(!trays.area->remove(TrayIconData { .hWnd = 7, .uID = 1 }));
    QVERIFY(trays.first->removes.isEmpty());
    QCOMPARE(trays.second->removes, QList<quint32> { 1 });
}

void tst_NotificationArea::withoutAnyDesktopAddIsRefused()
{
    QVERIFY(!StatusNotifierArea::hostAvailable());
    const std::unique_ptr<NotificationArea> area = NotificationArea::create();
    QVERIFY(!area->add(TrayIconData { .hWnd = 7, .uID = 1 }, QIcon()));
    QVERIFY(!area->remove(TrayIconData { .hWnd = 7, .uID = 1 }));
}

void tst_NotificationArea::iconMouseActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<qint32>>("expected");

    // A press alone is reported at once, without waiting for its release, and a move right
    // behind it does not overtake it.
    QTest::newRow("left press") << "press" << Qt::LeftButton << QList<qint32> { 513 };
    QTest::newRow("left press, then a move") << "drag" << Qt::LeftButton << QList<qint32> { 513, 512 };
    // The desktop's convention: the second press of a double click comes as the double click.
    QTest::newRow("left double click") << "double" << Qt::LeftButton << QList<qint32> { 513, 514, 515, 514 };
    QTest::newRow("right double click") << "double" << Qt::RightButton << QList<qint32> { 516, 517, 518, 517 };
    QTest::newRow("middle click") << "click" << Qt::MiddleButton << QList<qint32> {};
    QTest::newRow("move") << "move" << Qt::NoButton << QList<qint32> { 512 };
}

void tst_NotificationArea::iconMouseActions()
{
    QFETCH(QString, action);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<qint32>, expected);

    const std::unique_ptr<TrayIconWidget> icon = shownIcon();
    QSignalSpy spy(icon.get(), &TrayIconWidget::mouseMessage);
    // Through the window, as the platform delivers them, so that Qt makes its own double clicks.
    QWindow *window = icon->windowHandle();
    const QPoint centre = icon->rect().center();
    if (action == "press" || action == "drag")
        QTest::mousePress(window, button, {}, centre);
    if (action == "drag")
        QTest::mouseMove(window, centre + QPoint(1, 1));
    else if (action == "click")
        QTest::mouseClick(window, button, {}, centre);
    else if (action == "double")
        QTest::mouseDClick(window, button, {}, centre);
    else if (action == "move")
        QTest::mouseMove(window, centre + QPoint(1, 1));

    QTRY_COMPARE(reported(spy), expected);
    // Nothing else arrives later.
    QTest::qWait(20);
    QCOMPARE(reported(spy), expected);
    if (action == "press" || action == "drag")
        QTest::mouseRelease(window, button, {}, centre);
}

void tst_NotificationArea::iconPaintsAtTheSizeGiven_data()
{
    QTest::addColumn<QSize>("size");

    QTest::newRow("22 wide, 30 high") << QSize(22, 30);
    QTest::newRow("40 wide, 24 high") << QSize(40, 24);
}

void tst_NotificationArea::iconPaintsAtTheSizeGiven()
{
    QFETCH(QSize, size);

    const std::unique_ptr<TrayIconWidget> icon = shownIcon();
    icon->setMinimumSize(1, 1);
    icon->resize(size);
    const QImage painted = icon->grab().toImage().scaled(size);
    const int side = qMin(size.width(), size.height());
    const QRect square(QPoint((size.width() - side) / 2, (size.height() - side) / 2), QSize(side, side));
    // The icon fills the largest centred square, and nothing outside it is the icon's colour.
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const bool red = painted.pixelColor(x, y) == QColor(Qt::red);
            QVERIFY2(red == square.contains(x, y), qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    }
}

QTEST_MAIN(tst_NotificationArea)
#include "tst_notificationarea.moc"
