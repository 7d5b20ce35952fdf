#include "StatusBar.h"

#include "desktop/DesktopServices.h"
#include "desktop/ProgramFont.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>

namespace {

constexpr int toPixels(int twips)
{
    return twips / StatusBar::TwipsPerPixel;
}

struct PanelSpec
{
    const char *objectName;
    const char *text;
    Qt::Alignment alignment;
    const char *keyName;
};

constexpr std::array<PanelSpec, StatusBar::PanelCount> Specs { {
    { "textPanel", "Ombrix Converter by Quelto", Qt::AlignLeft | Qt::AlignVCenter, "" },
    { "numPanel", "NUM", Qt::AlignCenter, "Num Lock" },
    { "capsPanel", "CAPS", Qt::AlignCenter, "Caps Lock" },
    { "insPanel", "INS", Qt::AlignCenter, "Insert" },
} };

} // namespace

StatusBar::StatusBar(QWidget *parent)
    : QWidget(parent)
{
    setFont(ProgramFont::at(ProgramFont::Small));

    for (int i = 0; i < PanelCount; ++i) {
        auto *label = new QLabel(QString::fromLatin1(Specs[i].text), this);
        label->setObjectName(QString::fromLatin1(Specs[i].objectName));
        label->setAlignment(Specs[i].alignment);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMargin(1);
        label->setIndent(3);
        label->setMinimumWidth(toPixels(MinimumPanelWidthTwips));
        panels[i] = label;
    }
    showKey(NumPanel, std::nullopt);
    showKey(CapsPanel, std::nullopt);
    showKey(InsPanel, insertOn);
    layoutPanels();

    qApp->installEventFilter(this);
}

StatusBar::~StatusBar()
{
    qApp->removeEventFilter(this);
}

void StatusBar::follow(DesktopServices &desktop)
{
    auto update = [this, &desktop] {
        const KeyLockState locks = desktop.keyLocks();
        showKey(NumPanel, locks.numLock);
        showKey(CapsPanel, locks.capsLock);
    };
    connect(&desktop, &DesktopServices::keyLocksChanged, this, update);
    update();
}

bool StatusBar::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::StatusTip:
        // Status tips are for QStatusBar; this bar only ever shows its panels.
        event->accept();
        return true;
    case QEvent::PaletteChange:
        for (int i = NumPanel; i < PanelCount; ++i)
            showKey(Panel(i), keyStates[i]);
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool StatusBar::eventFilter(QObject *watched, QEvent *event)
{
    // A key event passes the application's filters once for its window and once more for each
    // widget it propagates through; counting at the window makes one press one toggle.
    const bool keyEvent = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
    if (keyEvent && watched->isWindowType()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Insert) {
            if (event->type() == QEvent::KeyRelease) {
                insertReleasedAt = key->timestamp();
            } else if (!key->isAutoRepeat() && key->timestamp() != insertReleasedAt) {
                // A held key repeats as release and press with one timestamp; X11 delivers them
                // apart at times and Qt then misses the repeat, so the timestamp decides too.
                insertOn = !insertOn;
                showKey(InsPanel, insertOn);
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void StatusBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPanels();
}

void StatusBar::showKey(Panel which, std::optional<bool> on)
{
    keyStates[which] = on;
    const QPalette own = palette();
    QColor text = own.color(QPalette::Active, QPalette::WindowText);
    if (on == false) {
        // An off key is greyed the way the desktop greys disabled text.
        QColor grey = own.color(QPalette::Disabled, QPalette::WindowText);
        if (grey == text) {
            const QColor back = own.color(QPalette::Window);
            grey = QColor((text.red() + back.red() * 2) / 3, (text.green() + back.green() * 2) / 3,
                (text.blue() + back.blue() * 2) / 3);
        }
        text = grey;
    }
    QPalette shown = own;
    shown.setColor(QPalette::WindowText, text);
    panels[which]->setPalette(shown);
    // An unknown key claims neither state: slanted, and its tip says so.
    QFont slanted;
    slanted.setItalic(!on.has_value());
    panels[which]->setFont(slanted);
    panels[which]->setToolTip(on ? QString() : tr("%1 state unknown").arg(QLatin1String(Specs[which].keyName)));
}

void StatusBar::layoutPanels()
{
    // Fixed widths from the left; only the text panel gives way, down to its minimum, when
    // the bar is narrower than the four panels.
    const int keyWidth = toPixels(PanelWidthTwips[NumPanel]);
    const int firstWidth
        = qBound(toPixels(MinimumPanelWidthTwips), width() - 3 * keyWidth, toPixels(PanelWidthTwips[TextPanel]));
    int x = 0;
    for (int i = 0; i < PanelCount; ++i) {
        const int w = i == TextPanel ? firstWidth : toPixels(PanelWidthTwips[i]);
        panels[i]->setGeometry(x, 0, w, height());
        x += w;
    }
}
