#include "about/About.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

#include <memory>

class tst_About : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void window();
    void closeUnloads_data();
    void closeUnloads();

private:
    QWidget *control(const QString &name) const { return about->window()->findChild<QWidget *>(name); }

    std::unique_ptr<QWidget> main;
    QLineEdit *other = nullptr;
    std::unique_ptr<About> about;
};

void tst_About::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("connectSlotsByName")));
    // As the program does at start-up.
    QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
    // A stand-in main window with two controls that can hold the keyboard focus.
    main = std::make_unique<QWidget>();
    new QLineEdit(main.get());
    other = new QLineEdit(main.get());
    main->show();
    main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main.get()));
    about = std::make_unique<About>(*main);
}

void tst_About::cleanup()
{
    about.reset();
    main.reset();
}

void tst_About::window()
{
    about->show();
    QPointer<QWidget> window = about->window();
    // No owner, no minimise or maximise button, centred.
    QVERIFY(!window->parentWidget());
    QVERIFY(!(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const QRect screen = main->screen()->availableGeometry();
    QVERIFY((window->geometry().center() - screen.center()).manhattanLength() <= 1);

    // Each caption fits its box.
    for (const QWidget *widget : window->findChildren<QWidget *>()) {
        const QString caption = widget->property(qobject_cast<const QGroupBox *>(widget) ? "title" : "text").toString();
        QVERIFY(widget == control("Picture1") || !caption.isEmpty());
        const QFontMetrics metrics(widget->font());
        const auto *label = qobject_cast<const QLabel *>(widget);
        const int flags = label ? int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0) : 0;
        const QRect box = metrics.boundingRect(QRect(0, 0, widget->width(), 1000), flags, caption);
        QVERIFY2(box.width() <= widget->width(), qPrintable(widget->objectName()));
        if (widget == control("Label8")) {
            // One tool name a line. Two full lines are a pixel taller than the box; only the second
            // line's descent is cut, and neither name reaches below the baseline there.
            QCOMPARE(box.height(), 2 * metrics.lineSpacing());
            QVERIFY(metrics.lineSpacing() + metrics.ascent() <= widget->height());
        } else {
            QVERIFY2(box.height() <= widget->height(), qPrintable(widget->objectName()));
        }
        // Label1's box reaches a pixel past the window's edge; its text must not.
        QVERIFY(widget->mapTo(window, QPoint(box.right(), 0)).x() < window->width());
    }

    // Drawn unscaled from the box's top-left corner: the box shows the image's first 49 x 49.
    const QImage gif = QImage(QStringLiteral(":/about.gif")).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(control("Picture1")->grab().toImage().convertToFormat(QImage::Format_RGB32), gif.copy(0, 0, 49, 49));

    // The window goes with the object that loaded it.
    about.reset();
    QVERIFY(!window);
}

void tst_About::closeUnloads_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Return on closeButton") << "return";
    QTest::newRow("title bar close") << "titleBar";
}

void tst_About::closeUnloads()
{
    QFETCH(QString, how);

    // The focus was on the second control when About opened; Close hands it back there.
    other->setFocus();
    about->show();
    QPointer<QWidget> window = about->window();
    QPointer<QWidget> closeButton = control("closeButton");
    QTRY_COMPARE(QApplication::focusWidget(), closeButton.data());
    // Only Close unloads it. Without a task-bar entry a minimised About could not come back, and
    // the main window would stay disabled.
    QTest::keyClick(closeButton, Qt::Key_Escape);
    window->setWindowState(window->windowState() | Qt::WindowMinimized);
    QTRY_VERIFY(!window->isMinimized());
    QVERIFY(window->isVisible() && !main->isEnabled());

    if (how == "return")
        QTest::keyClick(closeButton, Qt::Key_Return);
    else
        window->close();

    QVERIFY(!about->window());
    QTRY_VERIFY(!window);
    QTRY_COMPARE(QApplication::focusWidget(), other);
    // Shown again, it loads a window anew, and the main window waits for it again.
    about->show();
    QVERIFY(about->window() && about->window()->isVisible() && !main->isEnabled());
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
