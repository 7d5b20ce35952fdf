#include "app/Main.h"
#include "app/StatusBar.h"
#include "support/FakeDesktop.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QVBoxLayout>

/// The status bar: its panels, the key-lock panels following the desktop, INS following the
/// Insert key, and nothing else ever writing to it.
class tst_StatusBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void panels_data();
    void panels();
    void textPanelShowsItsTextInFull();
    void keyLocksFollowDesktop_data();
    void keyLocksFollowDesktop();
    void offKeysAreGreyed();
    void insertTogglesOncePerPress();
    void heldInsertTogglesOnce();
    void statusTipsLeaveItAlone();

private:
    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<QWidget> window;
    StatusBar *bar = nullptr;
    QWidget *focusChild = nullptr;
};

namespace {

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
    window = std::make_unique<QWidget>();
    window->resize(553, 60);
    // A control that has the focus and ignores Insert, so that the press travels up to the window.
    focusChild = new QWidget(window.get());
    focusChild->setGeometry(0, 0, 553, 41);
    focusChild->setFocusPolicy(Qt::StrongFocus);
    bar = new StatusBar(window.get());
    bar->setGeometry(0, 41, 553, 19);
    bar->follow(*desktop);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->activateWindow();
    focusChild->setFocus();
    QTRY_VERIFY(focusChild->hasFocus());
}

void tst_StatusBar::cleanup()
{
    window.reset();
    desktop.reset();
}

void tst_StatusBar::panels_data()
{
    QTest::addColumn<int>("panel");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("width");

    // Twips to pixels at 15 a pixel: 3900 -> 260, 1440 -> 96.
    QTest::newRow("text") << int(StatusBar::TextPanel) << "textPanel" << "Ombrix Converter by Quelto" << 0 << 260;
    QTest::newRow("NUM") << int(StatusBar::NumPanel) << "numPanel" << "NUM" << 260 << 96;
    QTest::newRow("CAPS") << int(StatusBar::CapsPanel) << "capsPanel" << "CAPS" << 356 << 96;
    QTest::newRow("INS") << int(StatusBar::InsPanel) << "insPanel" << "INS" << 452 << 96;
}

void tst_StatusBar::panels()
{
    QFETCH(int, panel);
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    QFETCH(int, left);
    QFETCH(int, width);

    QLabel *label = bar->findChild<QLabel *>(objectName);
    QVERIFY(label);
    QCOMPARE(label, bar->panel(StatusBar::Panel(panel)));
    QCOMPARE(label->text(), text);
    QCOMPARE(label->geometry(), QRect(left, 0, width, 19));
    QCOMPARE(label->minimumWidth(), 96);
    QVERIFY(label->isVisible());
    QCOMPARE(label->font().family(), QStringLiteral("Verdana"));
    QCOMPARE(label->font().pointSizeF(), 6.75);
}

void tst_StatusBar::textPanelShowsItsTextInFull()
{
    QLabel *label = bar->panel(StatusBar::TextPanel);
    const int room = label->contentsRect().width() - 2 * label->margin() - label->indent();
    QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= room,
             qPrintable(QStringLiteral("%1 pixels of text in %2")
                            .arg(label->fontMetrics().horizontalAdvance(label->text()))
                            .arg(room)));
    QVERIFY(label->fontMetrics().height() <= label->contentsRect().height());
}

void tst_StatusBar::keyLocksFollowDesktop_data()
{
    QTest::addColumn<std::optional<bool>>("numLock");
    QTest::addColumn<std::optional<bool>>("capsLock");

    QTest::newRow("both on") << std::optional<bool>(true) << std::optional<bool>(true);
    QTest::newRow("num on, caps off") << std::optional<bool>(true) << std::optional<bool>(false);
    QTest::newRow("num off, caps on") << std::optional<bool>(false) << std::optional<bool>(true);
    QTest::newRow("unknown") << std::optional<bool>() << std::optional<bool>();
}

void tst_StatusBar::keyLocksFollowDesktop()
{
    QFETCH(std::optional<bool>, numLock);
    QFETCH(std::optional<bool>, capsLock);

    // Unknown until the desktop says otherwise.
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), std::optional<bool>());
    desktop->setKeyLocks({numLock, capsLock});
    QCOMPARE(bar->keyShownOn(StatusBar::NumPanel), numLock);
    QCOMPARE(bar->keyShownOn(StatusBar::CapsPanel), capsLock);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(false));
    // The texts never change, whatever the state.
    QCOMPARE(bar->panel(StatusBar::NumPanel)->text(), QStringLiteral("NUM"));
    QCOMPARE(bar->panel(StatusBar::CapsPanel)->text(), QStringLiteral("CAPS"));
}

void tst_StatusBar::offKeysAreGreyed()
{
    QLabel *num = bar->panel(StatusBar::NumPanel);
    QLabel *ins = bar->panel(StatusBar::InsPanel);
    const int unknown = darkest(num);
    desktop->setKeyLocks({false, false});
    const int off = darkest(num);
    desktop->setKeyLocks({true, false});
    const int on = darkest(num);
    QVERIFY2(on + 90 < off, qPrintable(QStringLiteral("on %1, off %2").arg(on).arg(off)));
    QCOMPARE(unknown, off);

    const int insertOff = darkest(ins);
    QTest::keyClick(window->windowHandle(), Qt::Key_Insert);
    const int insertOn = darkest(ins);
    QVERIFY2(insertOn + 90 < insertOff, qPrintable(QStringLiteral("on %1, off %2").arg(insertOn).arg(insertOff)));
}

void tst_StatusBar::insertTogglesOncePerPress()
{
    // Each event a little apart, as from a keyboard: a release and a press that share their
    // timestamp are a key repeating.
    const auto click = [](QWindow *target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::qWait(2);
        QTest::keyPress(target, key, modifiers);
        QTest::qWait(2);
        QTest::keyRelease(target, key, modifiers);
    };
    QWindow *handle = window->windowHandle();
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(false));

    // The press reaches the focused child and then its parents; it still counts once.
    click(handle, Qt::Key_Insert);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(true));
    click(handle, Qt::Key_Insert);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(false));

    // Other keys do nothing; Insert on the keypad is Insert too.
    click(handle, Qt::Key_Delete);
    click(handle, Qt::Key_A);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(false));
    click(handle, Qt::Key_Insert, Qt::KeypadModifier);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(true));

    // Whichever control has the focus, a text field too.
    auto *edit = new QLineEdit(window.get());
    edit->setGeometry(0, 0, 100, 20);
    edit->show();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    click(handle, Qt::Key_Insert);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(false));

    // Presses in another window of the program count as well.
    QWidget other;
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));
    click(other.windowHandle(), Qt::Key_Insert);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(true));
}

void tst_StatusBar::heldInsertTogglesOnce()
{
    QWindow *handle = window->windowHandle();
    const auto send = [handle](QEvent::Type type, quint64 timestamp, bool autoRepeat) {
        QKeyEvent key(type, Qt::Key_Insert, Qt::NoModifier, QString(), autoRepeat);
        key.setTimestamp(timestamp);
        QCoreApplication::sendEvent(handle, &key);
    };
    send(QEvent::KeyPress, 1000, false);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(true));
    // Repeats that Qt recognised, then one it took for a release and a new press.
    send(QEvent::KeyRelease, 1500, true);
    send(QEvent::KeyPress, 1500, true);
    send(QEvent::KeyRelease, 1530, false);
    send(QEvent::KeyPress, 1530, false);
    send(QEvent::KeyRelease, 1560, false);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(true));
    // The next real press toggles.
    send(QEvent::KeyPress, 2400, false);
    QCOMPARE(bar->keyShownOn(StatusBar::InsPanel), std::optional<bool>(false));
}

void tst_StatusBar::statusTipsLeaveItAlone()
{
    FakeDesktop mainDesktop;
    Main main(mainDesktop);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto *mainBar = main.findChild<StatusBar *>(QStringLiteral("StatusBar1"));
    QVERIFY(mainBar);
    mainDesktop.setKeyLocks({true, true});

    // Hovering entries sends status tips to the window, even empty ones; with a QStatusBar
    // in the window they would blank it.
    for (QMenu *menu : main.menuBar()->findChildren<QMenu *>()) {
        menu->popup(main.mapToGlobal(QPoint(10, 10)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator())
                menu->setActiveAction(action);
            QStatusTipEvent tip(QStringLiteral("a status tip"));
            QCoreApplication::sendEvent(menu, &tip);
            QStatusTipEvent empty{QString()};
            QCoreApplication::sendEvent(&main, &empty);
        }
        menu->hide();
    }

    QVERIFY(main.findChildren<QStatusBar *>().isEmpty());
    const QStringList texts{"Ombrix Converter by Quelto", "NUM", "CAPS", "INS"};
    for (int i = 0; i < StatusBar::PanelCount; ++i) {
        QCOMPARE(mainBar->panel(StatusBar::Panel(i))->text(), texts.at(i));
        QVERIFY(mainBar->panel(StatusBar::Panel(i))->isVisible());
    }
    QCOMPARE(mainBar->keyShownOn(StatusBar::NumPanel), std::optional<bool>(true));
    QCOMPARE(mainBar->geometry(), QRect(0, 305, 553, 19));
}

QTEST_MAIN(tst_StatusBar)
#include "tst_statusbar.moc"
