#include "X11Desktop.h"

#include "app/desktop/KeyLockMonitor.h"
#include "tray/NotificationArea.h"
#include "tray/TrayIconWidget.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QHash>
#include <QPair>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <iterator>

// The X11 headers define macros (None, Bool, Status, KeyPress ...) that clash with Qt names,
// so they come last and nothing below uses those Qt names.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {

Display *x11Display()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

/// Adds events to what this client already selects on a window; XSelectInput replaces the
/// whole mask, which Qt shares on the same connection.
void selectMoreInput(Display *display, Window window, long mask)
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes))
        XSelectInput(display, window, attributes.your_event_mask | mask);
}

/// A native event filter that removes itself with its owner.
class EventFilterScope : public QAbstractNativeEventFilter
{
public:
    ~EventFilterScope() override
    {
        if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
            dispatcher->removeNativeEventFilter(this);
    }

protected:
    void install() { QAbstractEventDispatcher::instance()->installNativeEventFilter(this); }
};

// ---- Key locks: XKB indicator state notifications, delivered whatever window has the focus.

// The wire layout of XKB's events (xcb/xkb.h does not compile as C++).
struct XkbIndicatorStateEvent
{
    uint8_t responseType;
    uint8_t xkbType;
    uint16_t sequence;
    uint32_t time;
    uint8_t deviceId;
    uint8_t pad[3];
    uint32_t state;
    uint32_t stateChanged;
};
static_assert(offsetof(XkbIndicatorStateEvent, xkbType) == 1 && offsetof(XkbIndicatorStateEvent, state) == 12);

class XkbKeyLocks : public KeyLockMonitor, public EventFilterScope
{
public:
    XkbKeyLocks(Display *display, int eventBase)
        : display(display)
        , eventBase(eventBase)
    {
        const unsigned long events = XkbIndicatorStateNotifyMask | XkbIndicatorMapNotifyMask
            | XkbNewKeyboardNotifyMask;
        XkbSelectEvents(display, XkbUseCoreKbd, events, events);
        readIndicators();
        XFlush(display);
        install();
    }

    KeyLockState state() const override
    {
        KeyLockState locks;
        if (numLockMask)
            locks.numLock = (indicators & numLockMask) != 0;
        if (capsLockMask)
            locks.capsLock = (indicators & capsLockMask) != 0;
        return locks;
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != eventBase)
            return false;
        // Every XKB event shares the extension's one event code; the second byte tells them apart.
        const auto xkbType = reinterpret_cast<const XkbIndicatorStateEvent *>(event)->xkbType;
        const KeyLockState before = state();
        if (xkbType == XkbIndicatorStateNotify)
            indicators = reinterpret_cast<const XkbIndicatorStateEvent *>(event)->state;
        else if (xkbType == XkbIndicatorMapNotify || xkbType == XkbNewKeyboardNotify)
            readIndicators();
        const KeyLockState after = state();
        if (after.numLock != before.numLock || after.capsLock != before.capsLock)
            emit changed();
        // Qt follows the keyboard through the same extension; leave the event to it.
        return false;
    }

private:
    unsigned indicatorMask(const char *name) const
    {
        int index = -1;
        const Atom atom = XInternAtom(display, name, False);
        if (!XkbGetNamedIndicator(display, atom, &index, nullptr, nullptr, nullptr) || index < 0 || index >= 32)
            return 0;
        return 1u << index;
    }

    void readIndicators()
    {
        numLockMask = indicatorMask("Num Lock");
        capsLockMask = indicatorMask("Caps Lock");
        unsigned current = 0;
        if (XkbGetIndicatorState(display, XkbUseCoreKbd, &current) == Success)
            indicators = current;
    }

    Display *display;
    int eventBase;
    unsigned numLockMask = 0;
    unsigned capsLockMask = 0;
    unsigned indicators = 0;
};

// ---- The freedesktop system tray: an icon window docked into the tray through XEmbed.

constexpr long SystemTrayRequestDock = 0;

class XEmbedTray : public NotificationArea, public EventFilterScope
{
public:
    explicit XEmbedTray(Display *display)
        : display(display)
        , root(DefaultRootWindow(display))
    {
        const QByteArray selectionName = "_NET_SYSTEM_TRAY_S" + QByteArray::number(DefaultScreen(display));
        selection = XInternAtom(display, selectionName.constData(), False);
        manager = XInternAtom(display, "MANAGER", False);
        opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
        // A tray that starts announces itself with a MANAGER message to the root window.
        selectMoreInput(display, root, StructureNotifyMask);
        XFlush(display);
        install();
        lostTimer.setSingleShot(true);
        lostTimer.setInterval(LostGraceMs);
        connect(&lostTimer, &QTimer::timeout, this, [this] { reportLost(); });
    }

    ~XEmbedTray() override
    {
        for (const Icon &icon : std::as_const(icons))
            delete icon.widget.data();
    }

    bool add(const TrayIconData &data, const QIcon &image) override
    {
        const Key key{data.hWnd, data.uID};
        auto existing = icons.find(key);
        if (existing != icons.end()) {
            existing->image = image;
            existing->tip = data.tip();
            if (existing->widget) {
                existing->widget->setImage(image);
                existing->widget->setTip(existing->tip);
            }
            return true;
        }
        const Window owner = trayOwner();
        if (!owner)
            return false;
        Icon &icon = icons[key];
        icon.image = image;
        icon.tip = data.tip();
        dock(key, icon, owner);
        return true;
    }

    bool remove(const TrayIconData &data) override
    {
        const auto found = icons.find(Key{data.hWnd, data.uID});
        if (found == icons.end())
            return false;
        retire(found->widget);
        icons.erase(found);
        return true;
    }

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        switch (event->response_type & 0x7f) {
        case XCB_CLIENT_MESSAGE: {
            const auto *client = reinterpret_cast<const xcb_client_message_event_t *>(event);
            if (client->window == root && client->type == manager && client->format == 32
                && client->data.data32[1] == selection) {
                trayStarted(client->data.data32[2]);
            }
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto *reparent = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
            if (reparent->parent != root)
                showDocked(reparent->window);
            else
                dropOrphan(reparent->window);
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto *destroyed = reinterpret_cast<const xcb_destroy_notify_event_t *>(event);
            if (watchedOwner && destroyed->window == watchedOwner)
                trayGone();
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    using Key = QPair<quint32, quint32>;
    struct Icon
    {
        QIcon image;
        QString tip;
        QPointer<TrayIconWidget> widget;
        bool docked = false; ///< the tray has taken the widget
    };

    Window trayOwner() const { return XGetSelectionOwner(display, selection); }

    void dock(Key key, Icon &icon, Window owner)
    {
        auto *widget = new TrayIconWidget(icon.image, icon.tip);
        connect(widget, &TrayIconWidget::mouseMessage, this, [this, key](qint32 message) {
            emit mouseMessage(key.first, key.second, message);
        });
        icon.widget = widget;
        icon.docked = false;
        const Window window = widget->winId();

        watchOwner(owner);
        XEvent request{};
        request.xclient.type = ClientMessage;
        request.xclient.window = owner;
        request.xclient.message_type = opcode;
        request.xclient.format = 32;
        request.xclient.data.l[0] = CurrentTime;
        request.xclient.data.l[1] = SystemTrayRequestDock;
        request.xclient.data.l[2] = long(window);
        XSendEvent(display, owner, False, NoEventMask, &request);
        XFlush(display);
        // The window stays unmapped until the tray has taken it (see ReparentNotify): a tray
        // built on GtkSocket that finds it mapped unmaps it, takes that as the icon hiding
        // itself, and gives it a width of one pixel.
    }

    Icon *iconOf(Window window)
    {
        for (Icon &icon : icons) {
            if (icon.widget && icon.widget->internalWinId() == window)
                return &icon;
        }
        return nullptr;
    }

    void showDocked(Window window)
    {
        if (Icon *icon = iconOf(window)) {
            icon->docked = true;
            icon->widget->show();
        }
    }

    void dropOrphan(Window window)
    {
        // A tray that dies hands its icons back to the root window, where they would show.
        if (Icon *icon = iconOf(window)) {
            retire(icon->widget);
            icon->widget.clear();
            icon->docked = false;
            startGraceTime();
        }
    }

    void watchOwner(Window owner)
    {
        if (owner == watchedOwner)
            return;
        watchedOwner = owner;
        // DestroyNotify tells when this tray goes away.
        selectMoreInput(display, owner, StructureNotifyMask);
    }

    void retire(TrayIconWidget *widget)
    {
        if (!widget)
            return;
        // Removal usually comes from the icon's own click: no more reports, delete it later.
        widget->disconnect(this);
        widget->hide();
        widget->deleteLater();
    }

    void trayStarted(Window owner)
    {
        if (!owner)
            owner = trayOwner();
        if (!owner)
            return;
        // A new tray knows none of the icons: dock each again in a fresh window.
        for (auto it = icons.begin(); it != icons.end(); ++it) {
            retire(it->widget);
            dock(it.key(), it.value(), owner);
        }
    }

    void trayGone()
    {
        watchedOwner = 0;
        // Until a tray starts again the icons have no window.
        for (Icon &icon : icons) {
            retire(icon.widget);
            icon.widget.clear();
            icon.docked = false;
        }
        startGraceTime();
    }

    void startGraceTime()
    {
        // A tray that restarts takes the icons back at once (see trayStarted); one that does not
        // would leave them showing nowhere.
        if (!icons.isEmpty() && !lostTimer.isActive())
            lostTimer.start();
    }

    void reportLost()
    {
        QList<Key> lost;
        for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
            if (!it->docked)
                lost.append(it.key());
        }
        // Each report may delete icons, so the list is taken first.
        for (const Key &key : std::as_const(lost)) {
            const auto found = icons.constFind(key);
            if (found != icons.cend() && !found->docked)
                emit iconLost(key.first, key.second);
        }
    }

    Display *display;
    Window root;
    Atom selection = 0;
    Atom manager = 0;
    Atom opcode = 0;
    Window watchedOwner = 0;
    QHash<Key, Icon> icons;
    QTimer lostTimer;
};

} // namespace

namespace X11Desktop {

// ---- Window manager state: the EWMH hints that Qt has no window flag for.

void keepOffTaskbar(QWidget *window)
{
    Display *display = x11Display();
    if (!display || !window || !window->isWindow())
        return;
    // The state of a window that is not mapped yet is its own to set; Qt adds its own states to
    // these when it maps the window.
    Atom skip[] = { XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False),
        XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False) };
    XChangeProperty(display, Window(window->winId()), XInternAtom(display, "_NET_WM_STATE", False), XA_ATOM, 32,
        PropModeAppend, reinterpret_cast<unsigned char *>(skip), int(std::size(skip)));
    XFlush(display);
}

std::unique_ptr<KeyLockMonitor> createKeyLockMonitor()
{
    Display *display = x11Display();
    if (!display)
        return nullptr;
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &eventBase, &errorBase, &major, &minor))
        return nullptr;
    return std::make_unique<XkbKeyLocks>(display, eventBase);
}

std::unique_ptr<NotificationArea> createXEmbedTray()
{
    Display *display = x11Display();
    if (!display)
        return nullptr;
    return std::make_unique<XEmbedTray>(display);
}

} // namespace X11Desktop
