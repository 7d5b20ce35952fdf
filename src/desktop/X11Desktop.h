#pragma once

#include <QAbstractNativeEventFilter>

#include <memory>

class KeyLockMonitor;
class QWidget;
// As Xlib declares it, so that users of this header need not include Xlib's macros.
typedef struct _XDisplay Display;

/// What the desktop services need from the X server directly, and the helpers that the X11
/// parts of other folders share. Everything does nothing, or returns null, off X11.
namespace X11Desktop {

/// Qt's own connection to the X server; null when the program does not run on X11.
Display *display();
/// Adds events to what this client already selects on a window; XSelectInput replaces the
/// whole mask, which Qt shares on the same connection.
void selectMoreInput(Display *display, unsigned long window, long mask);

/// A native event filter that removes itself with its owner.
class EventFilterScope : public QAbstractNativeEventFilter
{
public:
    ~EventFilterScope() override;

protected:
    void install();
};

/// Follows the Num Lock and Caps Lock indicators through XKB indicator events.
std::unique_ptr<KeyLockMonitor> createKeyLockMonitor();
/// Asks the window manager to keep a top-level window out of the task bar and the pager. Must
/// run before the window is first mapped.
void keepOffTaskbar(QWidget *window);

} // namespace X11Desktop
