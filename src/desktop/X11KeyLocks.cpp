// The key-lock indicators of the X keyboard: XKB indicator state notifications, delivered
// whatever window has the focus.

#include "desktop/KeyLockMonitor.h"
#include "desktop/X11Desktop.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// The X11 headers define macros (None, Bool, Status, KeyPress ...) that clash with Qt names,
// so they come last and nothing below uses those Qt names.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {

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

class XkbKeyLocks : public KeyLockMonitor, public X11Desktop::EventFilterScope
{
public:
    XkbKeyLocks(Display *display, int eventBase)
        : display(display)
        , eventBase(eventBase)
    {
        const unsigned long events = XkbIndicatorStateNotifyMask | XkbIndicatorMapNotifyMask | XkbNewKeyboardNotifyMask;
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

} // namespace

namespace X11Desktop {

std::unique_ptr<KeyLockMonitor> createKeyLockMonitor()
{
    Display *display = X11Desktop::display();
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

} // namespace X11Desktop
