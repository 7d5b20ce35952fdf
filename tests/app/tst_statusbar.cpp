#include "app/Main.h"
#include "app/StatusBar.h"
#include "app/desktop/KeyLockMonitor.h"
#include "support/FakeDesktop.h"

#include <QLabel>
#include <QTest>

/// The status bar: its panels, the key-lock panels following the desktop, INS following the Insert key.
class tst_StatusBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void panels();
    void keyLocksFollowDesktop();
    void insertTogglesOncePerPress();

private:
    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<Main> main;
    StatusBar *bar = nullptr;
};

namespace {

const QStringList PanelTexts { "Ombrix Converter by Quelto", "NUM", "CAPS", "INS" };

/// The darkest pixel of a panel's painted text: lower is darker.
int darkest(QLabel *panel)
{
    const QImage image = panel->grab().toImage();
    int least = 255 * 3;
    for (int y = 3; y < image.height() - 3; ++y) {
        for (int x = 3; x < image.width() - 3; ++x) {
            const QColor c = image.pixelColor(x, y);
            least = qMin(least, c.red() + c.green() + c.blue());
        }
    }
    return least;
}

} // namespace

void tst_StatusBar::init()
{
    desktop = std::make_unique<FakeDesktop>();
    main = std::make_unique<Main>(*desktop);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    main->activateWindow();
    QTRY_VERIFY(main->focusWidget());
    bar = main->findChild<StatusBar *>(QStringLiteral("StatusBar1"));
    QVERIFY(bar);
}

void tst_StatusBar::cleanup()
{
    main.reset();
    desktop.reset();
}

void tst_StatusBar::panels()
{
    // Twips to pixels at 15 a pixel: 3900 -> 260, 1440 -> 96.
    const int lefts[] = { 0, 260, 356, 452 };
    for (int i = 0; i < StatusBar::PanelCount; ++i) {
        QLabel *label = bar->panel(StatusBar::Panel(i));
        QCOMPARE(label->text(), PanelTexts.at(i));
        QCOMPARE(label->geometry(), QRect(lefts[i], 0, i == 0 ? 260 : 96, 19));
    }

    // The first panel's text fits in full, in the panels' font.
    QLabel *text = bar->panel(StatusBar::TextPanel);
    QCOMPARE(text->font().family(), QStringLiteral("Verdana"));
    QCOMPARE(text->font().pointSizeF(), 6.75);
    const int room = text->contentsRect().width() - 2 * text->margin() - text->indent();
    QVERIFY2(text->fontMetrics().horizontalAdvance(text->text()) <= room, "the text is cut");
    QVERIFY(text->fontMetrics().height() <= text->contentsRect().height());
}

void tst_StatusBar::keyLocksFollowDesktop()
{
    // Unknown until the desktop says otherwise, and greyed like an off key; NUM and CAPS each
    // follow their own indicator.
    QLabel *num = bar->panel(StatusBar::NumPanel);
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), std::optional<bool>());
    const int unknown = darkest(num);
    desktop->setKeyLocks({ true, false });
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), std::optional<bool>(true));
    QCOMPARE(bar->keyShownOn(StatusBar::CapsPanel), std::optional<bool>(false));
    const int on = darkest(num);
    desktop->setKeyLocks({ false, true });
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), std::optional<bool>(false));
    QCOMPARE(bar->keyShownOn(StatusBar::CapsPanel), std::optional<bool>(true));
    QCOMPARE(darkest(num), unknown);
    QVERIFY2(on + 90 < unknown, qPrintable(QStringLiteral("on %1, off %2").arg(on).arg(unknown)));

    // Offscreen the real desktop knows no indicators: they stay unknown.
    const std::unique_ptr<KeyLockMonitor> locks = KeyLockMonitor::create();
    QVERIFY(!locks->state().numLock.has_value());
    QVERIFY(!locks->state().capsLock.has_value());
}

void tst_StatusBar::insertTogglesOncePerPress()
{
    const auto send = [](QWindow *target, QEvent::Type type, quint64 timestamp, bool autoRepeat = false,
                          Qt::Key key = Qt::Key_Insert) {
        QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
        event.setTimestamp(timestamp);
        QCoreApplication::sendEvent(target, &event);
    };
    // Apart in time, as from a keyboard: a release and a press that share a timestamp are a key repeating.
    const auto click = [&](QWindow *target, quint64 timestamp, Qt::Key key = Qt::Key_Insert) {
        send(target, QEvent::KeyPress, timestamp, false, key);
        send(target, QEvent::KeyRelease, timestamp + 100, false, key);
    };
    const auto insShown = [this] { return bar->keyShownOn(StatusBar::InsPanel); };
    const std::optional<bool> on = true, off = false;
    QWindow *handle = main->windowHandle();
    QCOMPARE(insShown(), off);

    // The press reaches the focused control and then its parents; it still counts once.
    click(handle, 1000);
    QCOMPARE(insShown(), on);
    click(handle, 1200, Qt::Key_Delete);
    QCOMPARE(insShown(), on);

    // Held: repeats that Qt recognised, then one it took for a release and a new press.
    send(handle, QEvent::KeyPress, 1400);
    QCOMPARE(insShown(), off);
    send(handle, QEvent::KeyRelease, 1500, true);
    send(handle, QEvent::KeyPress, 1500, true);
    send(handle, QEvent::KeyRelease, 1530);
    send(handle, QEvent::KeyPress, 1530);
    send(handle, QEvent::KeyRelease, 1560);
    QCOMPARE(insShown(), off);

    // The next press, in another window of the program, counts as well.
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    click(other.windowHandle(), 2400);
    QCOMPARE(insShown(), on);
}

QTEST_MAIN(tst_StatusBar)
#include "tst_statusbar.moc"
