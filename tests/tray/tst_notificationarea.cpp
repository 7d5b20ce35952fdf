#include "tray/NotificationArea.h"
#include "tray/TrayIconWidget.h"

#include <QSignalSpy>
#include <QTest>

/// Which tray takes an icon and where its removal goes, and the XEmbed icon window: what each
/// mouse action reports, how it paints.
class tst_NotificationArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstAcceptingTrayKeepsTheIcon_data();
    void firstAcceptingTrayKeepsTheIcon();
    void iconMouseActions_data();
    void iconMouseActions();
    void iconPaintsAtTheSizeGiven();
};

namespace {

/// A tray that accepts or refuses as told and records the icon numbers it was asked for.
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

TrayIconData iconNumber(quint32 id)
{
    return TrayIconData { .hWnd = 7, .uID = id };
}

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

} // namespace

void tst_NotificationArea::firstAcceptingTrayKeepsTheIcon_data()
{
    QTest::addColumn<bool>("firstAccepts");
    QTest::addColumn<bool>("secondAccepts");
    QTest::addColumn<int>("holder"); // 1 the XEmbed tray, 2 the other, 0 none

    QTest::newRow("XEmbed tray running") << true << true << 1;
    QTest::newRow("only a StatusNotifierItem host") << false << true << 2;
    QTest::newRow("no tray at all") << false << false << 0;
}

void tst_NotificationArea::firstAcceptingTrayKeepsTheIcon()
{
    QFETCH(bool, firstAccepts);
    QFETCH(bool, secondAccepts);
    QFETCH(int, holder);

    auto *first = new RecordingTray;
    auto *second = new RecordingTray;
    first->accepts = firstAccepts;
    second->accepts = secondAccepts;
    std::vector<std::unique_ptr<NotificationArea>> list;
    list.emplace_back(first);
    list.emplace_back(second);
    const std::unique_ptr<NotificationArea> area = NotificationArea::firstAccepting(std::move(list));

    QCOMPARE(area->add(iconNumber(1), QIcon()), holder != 0);
    QCOMPARE(first->adds.size(), 1);
    QCOMPARE(second->adds.size(), holder == 1 ? 0 : 1);
    if (holder == 2) {
        // The XEmbed tray started meanwhile; the icon is updated where it is.
        first->accepts = true;
        QVERIFY(area->add(iconNumber(1), QIcon()));
        QCOMPARE(first->adds.size(), 1);
        QCOMPARE(second->adds.size(), 2);
    }

    // An icon never added, or already gone, is no tray's business: harmless and false.
    QVERIFY(!area->remove(iconNumber(2)));
    QCOMPARE(area->remove(iconNumber(1)), holder != 0);
    QVERIFY(!area->remove(iconNumber(1)));
    QCOMPARE(first->removes, holder == 1 ? QList<quint32> { 1 } : QList<quint32> {});
    QCOMPARE(second->removes, holder == 2 ? QList<quint32> { 1 } : QList<quint32> {});

    // Reports from either tray come through with their window and icon.
    QSignalSpy reports(area.get(), &NotificationArea::mouseMessage);
    QSignalSpy losses(area.get(), &NotificationArea::iconLost);
    emit second->mouseMessage(9, 2, 517);
    emit first->iconLost(9, 3);
    QCOMPARE(reports, (QList<QList<QVariant>> { { 9u, 2u, 517 } }));
    QCOMPARE(losses, (QList<QList<QVariant>> { { 9u, 3u } }));
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
    QTest::newRow("middle click") << "click" << Qt::MiddleButton << QList<qint32> {};
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
    if (action == "press")
        QTest::mousePress(window, button, {}, centre);
    else if (action == "click")
        QTest::mouseClick(window, button, {}, centre);
    else if (action == "double")
        QTest::mouseDClick(window, button, {}, centre);
    // Sent to the widget, the move comes before the event loop runs the held-back press.
    if (action == "drag") {
        QTest::mousePress(icon.get(), button, {}, centre);
        QTest::mouseMove(icon.get(), centre + QPoint(1, 1));
    }

    QCoreApplication::processEvents();
    QCOMPARE(reported, expected);
    if (action == "press" || action == "drag")
        QTest::mouseRelease(window, button, {}, centre);
}

void tst_NotificationArea::iconPaintsAtTheSizeGiven()
{
    const std::unique_ptr<TrayIconWidget> icon = shownIcon();
    icon->setMinimumSize(1, 1);
    for (const QSize size : { QSize(22, 30), QSize(40, 24) }) {
        icon->resize(size);
        const QImage painted = icon->grab().toImage().scaled(size);
        const int side = qMin(size.width(), size.height());
        // The icon fills the largest centred square, and nothing outside it is the icon's colour.
        const QRect square(QPoint((size.width() - side) / 2, (size.height() - side) / 2), QSize(side, side));
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x)
                QCOMPARE(painted.pixelColor(x, y) == QColor(Qt::red), square.contains(x, y));
        }
    }
}

QTEST_MAIN(tst_NotificationArea)
#include "tst_notificationarea.moc"
