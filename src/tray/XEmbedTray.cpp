// The freedesktop system tray: an icon window docked into the tray through XEmbed.

#include "XEmbedTray.h"

#include "desktop/Logging.h"
#include "desktop/X11Desktop.h"
#include "tray/NotificationArea.h"
#include "tray/TrayIconWidget.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>

// The X11 headers define macros (None, Bool, Status, KeyPress ...) that clash with Qt names,
// so they come last and nothing below uses those Qt names.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {

using X11Desktop::selectMoreInput;

constexpr long SystemTrayRequestDock = 0;

class XEmbedTray : public NotificationArea, public X11Desktop::EventFilterScope
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
    }

    ~XEmbedTray() override
    {
        for (const Icon &icon : std::as_const(icons))
            delete icon.widget.data();
    }

    bool add(const TrayIconData &data, const QIcon &image) override
    {
        const IconKey key { data.hWnd, data.uID };
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
        const Window owner = watchTrayOwner();
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
        const auto found = icons.find(IconKey { data.hWnd, data.uID });
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
                trayStarted();
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

protected:
    QList<IconKey> iconKeys() const override { return icons.keys(); }

    bool showsNowhere(IconKey key) const override
    {
        const auto found = icons.constFind(key);
        return found != icons.cend() && !found->docked;
    }

private:
    struct Icon
    {
        QIcon image;
        QString tip;
        QPointer<TrayIconWidget> widget;
        bool docked = false; ///< the tray has taken the widget
    };

    Window trayOwner() const { return XGetSelectionOwner(display, selection); }

    void dock(IconKey key, Icon &icon, Window owner)
    {
        auto *widget = new TrayIconWidget(icon.image, icon.tip);
        connect(widget, &TrayIconWidget::mouseMessage, this,
            [this, key](qint32 message) { emit mouseMessage(key.first, key.second, message); });
        icon.widget = widget;
        icon.docked = false;
        const Window window = widget->winId();

        XEvent request {};
        request.xclient.type = ClientMessage;
        request.xclient.window = owner;
        request.xclient.message_type = opcode;
        request.xclient.format = 32;
        request.xclient.data.l[0] = CurrentTime;
        request.xclient.data.l[1] = SystemTrayRequestDock;
        request.xclient.data.l[2] = long(window);
        XSendEvent(display, owner, False, NoEventMask, &request);
        XFlush(display);
        qCDebug(lcTray, "Asked tray 0x%lx to dock icon %u of window 0x%x", owner, key.second, key.first);
        // A tray that holds its selection but never takes the window would keep it hidden for good.
        restartGraceTime();
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
            qCDebug(lcTray, "The tray took icon window 0x%lx", window);
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

    /// The tray's owner window, watched for DestroyNotify; 0 when no tray runs.
    Window watchTrayOwner()
    {
        // Read again once watched: a tray that went away before the watch began is seen here,
        // one that goes away after it by its DestroyNotify.
        Window owner = trayOwner();
        while (owner && owner != watchedOwner) {
            watchedOwner = owner;
            selectMoreInput(display, owner, StructureNotifyMask);
            owner = trayOwner();
        }
        watchedOwner = owner;
        return owner;
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

    void trayStarted()
    {
        const Window owner = watchTrayOwner();
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
        // A tray that restarts takes the icons back at once (see trayStarted); one that does not
        // would leave them showing nowhere.
        if (!icons.isEmpty())
            startGraceTime();
    }

    Display *display;
    Window root;
    Atom selection = 0;
    Atom manager = 0;
    Atom opcode = 0;
    Window watchedOwner = 0;
    QHash<IconKey, Icon> icons;
};

} // namespace

std::unique_ptr<NotificationArea> createXEmbedTray()
{
    Display *display = X11Desktop::display();
    if (!display)
        return nullptr;
    return std::make_unique<XEmbedTray>(display);
}
