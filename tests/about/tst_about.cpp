#include "about/About.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include <memory>

namespace {

/// A stand-in main window with one control that holds the keyboard focus.
struct MainWindow
{
    MainWindow()
    {
        window.setWindowTitle(QStringLiteral("main"));
        window.resize(300, 200);
        edit = new QLineEdit(&window);
        edit->setGeometry(10, 10, 100, 20);
        other = new QLineEdit(&window);
        other->setGeometry(10, 40, 100, 20);
        window.show();
        window.activateWindow();
        edit->setFocus();
    }

    QWidget window;
    QLineEdit *edit = nullptr;
    QLineEdit *other = nullptr;
};

QString textOf(const QWidget *widget)
{
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<const QPushButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    return {};
}

// The controls in keyboard order.
const QStringList TabOrder = { "closeButton", "Frame2", "Label4", "Label5", "Label6", "Label7", "Label8",
    "Label9", "Picture1", "Label3", "Label2", "Label1", "Label10" };

} // namespace

class tst_About : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void window();
    void fonts_data();
    void fonts();
    void colours();
    void textsFit_data();
    void textsFit();
    void picture();

    void showDisablesMainAndFocusesClose();
    void closeUnloads_data();
    void closeUnloads();
    void escapeDoesNotClose();
    void minimisingRestores();
    void secondShowBuildsAnew();
    void destroyingAboutDestroysWindow();

    void gifBytes();
    void icon();

private:
    template <typename T = QWidget>
    T *control(const QString &name) const
    {
        return about->window() ? about->window()->findChild<T *>(name) : nullptr;
    }

    std::unique_ptr<MainWindow> main;
    std::unique_ptr<About> about;
};

void tst_About::initTestCase()
{
    // As the program does at start-up.
    QFont::insertSubstitution(QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"));
}

void tst_About::init()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("connectSlotsByName")));
    main = std::make_unique<MainWindow>();
    QVERIFY(QTest::qWaitForWindowActive(&main->window));
    about = std::make_unique<About>(main->window);
}

void tst_About::cleanup()
{
    about.reset();
    main.reset();
}

void tst_About::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("focusable");

    // Twips / 15; the frame's labels relative to the frame.
    QTest::newRow("closeButton") << "closeButton" << QRect(296, 184, 81, 25) << "Close this About subform" << true;
    QTest::newRow("Frame2") << "Frame2" << QRect(8, 64, 369, 113) << "" << false;
    QTest::newRow("Label4") << "Label4" << QRect(16, 24, 81, 17) << "" << false;
    QTest::newRow("Label5") << "Label5" << QRect(112, 24, 161, 17) << "" << false;
    QTest::newRow("Label6") << "Label6" << QRect(16, 48, 81, 17) << "" << false;
    QTest::newRow("Label7") << "Label7" << QRect(112, 48, 249, 17) << "" << false;
    QTest::newRow("Label8") << "Label8" << QRect(16, 72, 97, 25) << "" << false;
    QTest::newRow("Label9") << "Label9" << QRect(112, 80, 209, 17) << "" << false;
    QTest::newRow("Picture1") << "Picture1" << QRect(8, 8, 49, 49) << "" << false;
    QTest::newRow("Label3") << "Label3" << QRect(120, 40, 73, 17) << "" << false;
    QTest::newRow("Label2") << "Label2" << QRect(296, 16, 81, 17) << "" << false;
    QTest::newRow("Label1") << "Label1" << QRect(264, 40, 121, 17) << "" << false;
    QTest::newRow("Label10") << "Label10" << QRect(64, 16, 193, 17) << "" << false;
}

void tst_About::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(QString, toolTip);
    QFETCH(bool, focusable);

    about->show();
    QWidget *widget = control(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), rect);
    QCOMPARE(widget->toolTip(), toolTip);
    QVERIFY(widget->isVisible());
    QCOMPARE(widget->focusPolicy() != Qt::NoFocus, focusable);
    const bool inFrame = name.startsWith("Label") && name.size() == 6 && name.back() >= '4' && name.back() <= '9';
    QCOMPARE(widget->parentWidget()->objectName(), inFrame ? QStringLiteral("Frame2") : QStringLiteral("About"));
    QVERIFY2(!textOf(widget).contains('&'), "no access keys");

    // The keyboard order: the controls appear in the focus chain in the order of the table.
    QStringList chain;
    for (QWidget *next = about->window()->nextInFocusChain(); next != about->window(); next = next->nextInFocusChain()) {
        if (TabOrder.contains(next->objectName()))
            chain << next->objectName();
    }
    QCOMPARE(chain, TabOrder);
}

void tst_About::window()
{
    about->show();
    QWidget *window = about->window();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Ombrix Converter"));
    QCOMPARE(window->size(), QSize(384, 216));
    QCOMPARE(window->minimumSize(), QSize(384, 216));
    QCOMPARE(window->maximumSize(), QSize(384, 216));
    QVERIFY2(!window->parentWidget(), "About names no owner window");
    QCOMPARE(window->windowType(), Qt::Tool);
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    const QRect screen = main->window.screen()->availableGeometry();
    QVERIFY((window->geometry().center() - screen.center()).manhattanLength() <= 1);

    const QImage icon(QStringLiteral(":/ombrix.png"));
    QCOMPARE(window->windowIcon().pixmap(128, 128).toImage().convertToFormat(QImage::Format_RGB32),
        icon.convertToFormat(QImage::Format_RGB32));

    auto *closeButton = control<QPushButton>("closeButton");
    QVERIFY(!closeButton->isDefault());
    QCOMPARE(closeButton->text(), QStringLiteral("Close"));
}

void tst_About::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");

    QTest::newRow("window") << "About" << 8.25 << false << false;
    QTest::newRow("closeButton") << "closeButton" << 8.25 << false << false;
    QTest::newRow("Frame2") << "Frame2" << 6.75 << false << false;
    QTest::newRow("Label4 tool name") << "Label4" << 8.25 << false << true;
    QTest::newRow("Label5 frame's font") << "Label5" << 6.75 << false << false;
    QTest::newRow("Label6 tool name") << "Label6" << 8.25 << false << true;
    QTest::newRow("Label7 frame's font") << "Label7" << 6.75 << false << false;
    QTest::newRow("Label8 tool names") << "Label8" << 8.25 << false << true;
    QTest::newRow("Label9 frame's font") << "Label9" << 6.75 << false << false;
    QTest::newRow("Label3 version") << "Label3" << 9.75 << true << false;
    QTest::newRow("Label2 window's font") << "Label2" << 8.25 << false << false;
    QTest::newRow("Label1 address") << "Label1" << 6.75 << false << false;
    QTest::newRow("Label10 title") << "Label10" << 9.75 << true << false;
}

void tst_About::fonts()
{
    QFETCH(QString, name);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(bool, italic);

    about->show();
    const QWidget *widget = name == "About" ? about->window() : control(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().family(), QStringLiteral("Verdana"));
    QCOMPARE(widget->font().pointSizeF(), points);
    QCOMPARE(widget->font().bold(), bold);
    QCOMPARE(widget->font().italic(), italic);
}

void tst_About::colours()
{
    about->show();
    const QColor standardText = QApplication::palette().color(QPalette::WindowText);
    for (const QString &name : TabOrder) {
        const QColor expected = name == "Label3" || name == "Label10" ? QColor(0, 0, 64) : standardText;
        QCOMPARE(control(name)->palette().color(QPalette::WindowText), expected);
    }
    QCOMPARE(about->window()->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Window));

    // The dark blue is what is drawn: the stems of the bold text are solid in it.
    for (const char *name : { "Label3", "Label10" }) {
        const QImage drawn = control(name)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        int darkBlue = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            for (int x = 0; x < drawn.width(); ++x)
                darkBlue += drawn.pixel(x, y) == qRgb(0, 0, 64);
        }
        QVERIFY2(darkBlue > 20, name);
    }
}

void tst_About::textsFit_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : TabOrder) {
        if (name != "Picture1")
            QTest::newRow(qPrintable(name)) << name;
    }
}

void tst_About::textsFit()
{
    QFETCH(QString, name);

    about->show();
    const QWidget *widget = control(name);
    const QString text = textOf(widget);
    QVERIFY(!text.isEmpty());
    const QFontMetrics metrics(widget->font());

    if (auto *label = qobject_cast<const QLabel *>(widget)) {
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect used = metrics.boundingRect(QRect(0, 0, label->width(), 1000), flags, text);
        QVERIFY2(used.width() <= label->width(), qPrintable(QString::number(used.width())));
        if (name == "Label8") {
            // One tool name a line. Two full lines are a pixel taller than the box; only the second
            // line's descent is cut, and neither name reaches below the baseline there.
            QCOMPARE(used.height(), 2 * metrics.lineSpacing());
            QVERIFY(metrics.horizontalAdvance(text) > label->width());
            QVERIFY(metrics.lineSpacing() + metrics.ascent() <= label->height());
        } else {
            QVERIFY2(used.height() <= label->height(), qPrintable(QString::number(used.height())));
        }
        // Label1's box reaches a pixel past the window's edge; its text must not.
        const QPoint end = label->mapTo(about->window(), QPoint(used.right(), 0));
        QVERIFY(end.x() < about->window()->width());
    } else if (auto *button = qobject_cast<const QPushButton *>(widget)) {
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        QVERIFY(metrics.horizontalAdvance(text) + 2 * margin <= button->width());
        QVERIFY(metrics.height() <= button->height());
    } else {
        QVERIFY(metrics.horizontalAdvance(text) < widget->width());
    }
}

void tst_About::picture()
{
    about->show();
    auto *picture = control<QLabel>("Picture1");
    QVERIFY(picture);
    QVERIFY(!picture->hasScaledContents());
    QCOMPARE(picture->pixmap().size(), QSize(50, 50));

    // Drawn at its own size from the box's top-left corner: the box shows the image's first 49 x 49.
    const QImage gif = QImage(QStringLiteral(":/about.gif")).convertToFormat(QImage::Format_RGB32);
    const QImage drawn = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(drawn.size(), QSize(49, 49));
    QCOMPARE(drawn, gif.copy(0, 0, 49, 49));
}

void tst_About::showDisablesMainAndFocusesClose()
{
    about->show();
    QVERIFY(about->window());
    QVERIFY(about->window()->isVisible());
    QVERIFY(!main->window.isEnabled());
    QTRY_COMPARE(QApplication::focusWidget(), control("closeButton"));
}

void tst_About::closeUnloads_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("click on closeButton") << "click";
    QTest::newRow("Space on closeButton") << "space";
    QTest::newRow("Return on closeButton") << "return";
    QTest::newRow("title bar close") << "titleBar";
}

void tst_About::closeUnloads()
{
    QFETCH(QString, how);

    // The focus was on the second control when About opened; Close hands it back there.
    main->other->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), main->other);
    about->show();
    QPointer<QWidget> window = about->window();
    QPointer<QPushButton> closeButton = control<QPushButton>("closeButton");
    QPointer<QLabel> label = control<QLabel>("Label9");
    QVERIFY(window && closeButton && label);
    QTRY_COMPARE(QApplication::focusWidget(), closeButton.data());

    if (how == "click")
        QTest::mouseClick(closeButton, Qt::LeftButton);
    else if (how == "space")
        QTest::keyClick(closeButton, Qt::Key_Space);
    else if (how == "return")
        QTest::keyClick(closeButton, Qt::Key_Return);
    else
        window->close();

    QVERIFY(!about->window());
    QVERIFY(main->window.isEnabled());
    QTRY_VERIFY(!window);
    QVERIFY(!closeButton);
    QVERIFY(!label);
    QTRY_VERIFY(main->window.isActiveWindow());
    QTRY_COMPARE(QApplication::focusWidget(), main->other);
}

void tst_About::escapeDoesNotClose()
{
    about->show();
    QPointer<QWidget> window = about->window();
    QTRY_COMPARE(QApplication::focusWidget(), control("closeButton"));

    QTest::keyClick(control("closeButton"), Qt::Key_Escape);
    QTest::keyClick(window, Qt::Key_Escape);
    QTest::qWait(50);
    QVERIFY(window);
    QCOMPARE(about->window(), window.data());
    QVERIFY(window->isVisible());
    QVERIFY(!main->window.isEnabled());
}

void tst_About::minimisingRestores()
{
    // Without a task-bar entry a minimised About could not come back, and the main window would
    // stay disabled.
    about->show();
    QPointer<QWidget> window = about->window();
    window->setWindowState(window->windowState() | Qt::WindowMinimized);
    QTRY_VERIFY(!window->isMinimized());
    QVERIFY(window->isVisible());
    QCOMPARE(about->window(), window.data());
}

void tst_About::secondShowBuildsAnew()
{
    about->show();
    QPointer<QWidget> first = about->window();
    QTest::mouseClick(control("closeButton"), Qt::LeftButton);
    QTRY_VERIFY(!first);
    QVERIFY(main->window.isEnabled());

    about->show();
    QVERIFY(about->window());
    QVERIFY(about->window()->isVisible());
    QVERIFY(!main->window.isEnabled());
    QCOMPARE(control("closeButton")->geometry(), QRect(296, 184, 81, 25));
    QTRY_COMPARE(QApplication::focusWidget(), control("closeButton"));

    QTest::mouseClick(control("closeButton"), Qt::LeftButton);
    QVERIFY(!about->window());
    QVERIFY(main->window.isEnabled());
}

void tst_About::destroyingAboutDestroysWindow()
{
    about->show();
    QPointer<QWidget> window = about->window();
    about.reset();
    QVERIFY(!window);
}

void tst_About::gifBytes()
{
    QFile file(QStringLiteral(":/about.gif"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.size() > 13 + 3 * 256);
    const auto byte = [&data](qsizetype at) { return quint8(data.at(at)); };

    QCOMPARE(data.left(6), QByteArray("GIF89a"));
    QCOMPARE(byte(6) | byte(7) << 8, 50);
    QCOMPARE(byte(8) | byte(9) << 8, 50);
    const quint8 packed = byte(10);
    QVERIFY2(packed & 0x80, "global colour table");
    QCOMPARE(2 << (packed & 7), 256);

    // Walk the blocks: one image, and no graphic control extension that makes a colour transparent.
    qsizetype at = 13 + 3 * 256;
    const auto skipSubBlocks = [&](qsizetype from) {
        while (from < data.size() && byte(from) != 0)
            from += 1 + byte(from);
        return from + 1;
    };
    int images = 0;
    while (at < data.size() && byte(at) != 0x3B) {
        if (byte(at) == 0x21) {
            if (byte(at + 1) == 0xF9)
                QVERIFY2(!(byte(at + 3) & 1), "transparent colour");
            at = skipSubBlocks(at + 2);
        } else {
            QCOMPARE(byte(at), quint8(0x2C));
            QCOMPARE(byte(at + 5) | byte(at + 6) << 8, 50);
            QCOMPARE(byte(at + 7) | byte(at + 8) << 8, 50);
            ++images;
            at = skipSubBlocks(at + 11);
        }
    }
    QVERIFY2(at < data.size(), "trailer");
    QCOMPARE(images, 1);
}

void tst_About::icon()
{
    QFile file(QStringLiteral(":/ombrix.png"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    // IHDR: 8 bits a sample, colour type 2 (RGB, no alpha): 24-bit colour.
    QCOMPARE(data.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(quint8(data.at(24)), quint8(8));
    QCOMPARE(quint8(data.at(25)), quint8(2));
    QVERIFY2(!data.contains("tRNS"), "no transparent colour");

    const QImage image = QImage::fromData(data);
    QCOMPARE(image.size(), QSize(128, 128));
    QVERIFY(!image.hasAlphaChannel());
    // Something is drawn on the ground, in more than a handful of colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY(colours.size() > 16);
}

QTEST_MAIN(tst_About)
#include "tst_about.moc"
