#include "KeyLockMonitor.h"

#include "desktop/X11Desktop.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace {

class UnknownKeyLocks : public KeyLockMonitor
{
public:
    KeyLockState state() const override { return {}; }
};

/// The locks as the key events the program receives carry them in their native modifiers. Qt's
/// wayland plugin puts xkb's modifier mask there (depressed, latched and locked together), and
/// every standard keymap has Caps Lock on the Lock modifier and Num Lock on Mod2.
class KeyEventLocks : public KeyLockMonitor
{
public:
    static constexpr quint32 CapsLockMask = 1u << 1;
    static constexpr quint32 NumLockMask = 1u << 4;

    KeyEventLocks()
    {
        qApp->installEventFilter(this);
        // Keys pressed while another program has the keyboard are not seen: what was known is no more.
        connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState now) {
            if (now != Qt::ApplicationActive)
                show({});
        });
    }

    KeyLockState state() const override { return locks; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Counted at the window only: the event passes the filter again for each widget it reaches.
        const bool keyEvent = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
        if (keyEvent && watched->isWindowType()) {
            const auto *key = static_cast<QKeyEvent *>(event);
            KeyLockState now = locks;
            follow(now.capsLock, CapsLockMask, Qt::Key_CapsLock, *key);
            follow(now.numLock, NumLockMask, Qt::Key_NumLock, *key);
            show(now);
        }
        return KeyLockMonitor::eventFilter(watched, event);
    }

private:
    static void follow(std::optional<bool> &lock, quint32 mask, int lockKey, const QKeyEvent &key)
    {
        const bool set = (key.nativeModifiers() & mask) != 0;
        // The lock key's own events carry the state before their own change: its press toggles the
        // lock it carries, its release still carries the key held down.
        if (key.key() != lockKey)
            lock = set;
        else if (key.type() == QEvent::KeyPress && !key.isAutoRepeat())
            lock = !set;
    }

    void show(KeyLockState now)
    {
        const bool change = now.numLock != locks.numLock || now.capsLock != locks.capsLock;
        locks = now;
        if (change)
            emit changed();
    }

    KeyLockState locks;
};

} // namespace

std::unique_ptr<KeyLockMonitor> KeyLockMonitor::create()
{
    if (auto x11 = X11Desktop::createKeyLockMonitor())
        return x11;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return fromKeyEvents();
    return std::make_unique<UnknownKeyLocks>();
}

std::unique_ptr<KeyLockMonitor> KeyLockMonitor::fromKeyEvents()
{
    return std::make_unique<KeyEventLocks>();
}
