#include "X11Desktop.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QWidget>

#include <iterator>

// The X11 headers define macros (None, Bool, Status ...) that clash with Qt names, so they
// come last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace X11Desktop {

Display *display()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

void selectMoreInput(Display *display, unsigned long window, long mask)
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes))
        XSelectInput(display, window, attributes.your_event_mask | mask);
}

EventFilterScope::~EventFilterScope()
{
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->removeNativeEventFilter(this);
}

void EventFilterScope::install()
{
    QAbstractEventDispatcher::instance()->installNativeEventFilter(this);
}

// Window manager state: the EWMH hints that Qt has no window flag for.
void keepOffTaskbar(QWidget *window)
{
    Display *display = X11Desktop::display();
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

} // namespace X11Desktop
