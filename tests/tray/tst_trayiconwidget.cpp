#include "tray/TrayIconWidget.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>

/// The window a tray embeds: what each mouse action reports, and how the icon is painted.
class tst_TrayIconWidget : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void mouseActions_data();
    void mouseActions();
    void pressReportedBeforeLaterActions();
    void paintsAtTheSizeGiven_data();
    void paintsAtTheSizeGiven();
    void showsTheTip();

private:
    QList<qint32> reported() const;

    std::unique_ptr<TrayIconWidget> icon;
    std::unique_ptr<QSignalSpy> spy;
};

namespace {

QIcon solid(QColor colour)
{
    QPixmap pixmap(128, 128);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

void tst_TrayIconWidget::init()
{
    icon = std::make_unique<TrayIconWidget>(solid(Qt::red), QStringLiteral("Restore Ombrix Converter"));
    icon->move(40, 40);
    icon->show();
    QVERIFY(QTest::qWaitForWindowExposed(icon.get()));
    // The pointer arrives first, so that a press is not preceded by Qt's own move.
    QTest::mouseMove(icon->windowHandle(), icon->rect().center());
    QCoreApplication::processEvents();
    spy = std::make_unique<QSignalSpy>(icon.get(), &TrayIconWidget::mouseMessage);
}

void tst_TrayIconWidget::cleanup()
{
    spy.reset();
    icon.reset();
}

QList<qint32> tst_TrayIconWidget::reported() const
{
    QList<qint32> messages;
    for (const QList<QVariant> &call : std::as_const(*spy))
        messages.append(call.at(0).toInt());
    return messages;
}

void tst_TrayIconWidget::mouseActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QList<qint32>>("expected");

    QTest::newRow("left press") << "press" << Qt::LeftButton << QList<qint32>{513};
    QTest::newRow("left click") << "click" << Qt::LeftButton << QList<qint32>{513, 514};
    // The desktop's convention: the second press of a double click comes as the double click.
    QTest::newRow("left double click") << "double" << Qt::LeftButton << QList<qint32>{513, 514, 515, 514};
    QTest::newRow("right press") << "press" << Qt::RightButton << QList<qint32>{516};
    QTest::newRow("right click") << "click" << Qt::RightButton << QList<qint32>{516, 517};
    QTest::newRow("right double click") << "double" << Qt::RightButton << QList<qint32>{516, 517, 518, 517};
    QTest::newRow("middle click") << "click" << Qt::MiddleButton << QList<qint32>{};
    QTest::newRow("move") << "move" << Qt::NoButton << QList<qint32>{512};
}

void tst_TrayIconWidget::mouseActions()
{
    QFETCH(QString, action);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QList<qint32>, expected);

    // Through the window, as the platform delivers them, so that Qt makes its own double clicks.
    QWindow *window = icon->windowHandle();
    const QPoint centre = icon->rect().center();
    if (action == "press")
        QTest::mousePress(window, button, {}, centre);
    else if (action == "click")
        QTest::mouseClick(window, button, {}, centre);
    else if (action == "double")
        QTest::mouseDClick(window, button, {}, centre);
    else
        QTest::mouseMove(window, centre + QPoint(1, 1));

    QTRY_COMPARE(reported(), expected);
    // Nothing else arrives later.
    QTest::qWait(20);
    QCOMPARE(reported(), expected);
    if (action == "press")
        QTest::mouseRelease(window, button, {}, centre);
}

void tst_TrayIconWidget::pressReportedBeforeLaterActions()
{
    // A release or move right behind a held-back press must not overtake it.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), icon->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(6, 6), icon->mapToGlobal(QPointF(6, 6)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(6, 6), icon->mapToGlobal(QPointF(6, 6)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(icon.get(), &press);
    QCoreApplication::sendEvent(icon.get(), &move);
    QCoreApplication::sendEvent(icon.get(), &release);
    QCOMPARE(reported(), (QList<qint32>{513, 512, 514}));
    QTest::qWait(20);
    QCOMPARE(reported(), (QList<qint32>{513, 512, 514}));
}

void tst_TrayIconWidget::paintsAtTheSizeGiven_data()
{
    QTest::addColumn<QSize>("size");

    QTest::newRow("16 square") << QSize(16, 16);
    QTest::newRow("22 wide, 30 high") << QSize(22, 30);
    QTest::newRow("48 square") << QSize(48, 48);
    QTest::newRow("40 wide, 24 high") << QSize(40, 24);
}

void tst_TrayIconWidget::paintsAtTheSizeGiven()
{
    QFETCH(QSize, size);

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

void tst_TrayIconWidget::showsTheTip()
{
    QCOMPARE(icon->toolTip(), QStringLiteral("Restore Ombrix Converter"));
    // The icon's window is never active: the tip must show all the same.
    QVERIFY(icon->testAttribute(Qt::WA_AlwaysShowToolTips));
    QHelpEvent help(QEvent::ToolTip, QPoint(3, 3), icon->mapToGlobal(QPoint(3, 3)));
    QCoreApplication::sendEvent(icon.get(), &help);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QStringLiteral("Restore Ombrix Converter"));
    QToolTip::hideText();

    icon->setTip(QStringLiteral("Other"));
    QCOMPARE(icon->toolTip(), QStringLiteral("Other"));
    QCOMPARE(icon->windowTitle(), QStringLiteral("Other"));
}

QTEST_MAIN(tst_TrayIconWidget)
#include "tst_trayiconwidget.moc"
