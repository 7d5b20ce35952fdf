#pragma once

#include "desktop/DesktopServices.h"

#include <QObject>

#include <memory>

/// Follows the keyboard's Num Lock and Caps Lock indicators as they change, without polling.
class KeyLockMonitor : public QObject
{
    Q_OBJECT

public:
    /// The X keyboard's indicators on xcb; the key events' modifiers on wayland; elsewhere a
    /// monitor that knows nothing.
    static std::unique_ptr<KeyLockMonitor> create();
    /// Follows the locks that the program's key events carry; unknown until a key event tells,
    /// and again whenever the program loses the keyboard.
    static std::unique_ptr<KeyLockMonitor> fromKeyEvents();

    using QObject::QObject;

    virtual KeyLockState state() const = 0;

Q_SIGNALS:
    void changed();
};
