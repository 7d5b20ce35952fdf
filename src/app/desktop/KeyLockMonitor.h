#pragma once

#include "app/desktop/DesktopServices.h"

#include <QObject>

#include <memory>

/// Follows the keyboard's Num Lock and Caps Lock indicators as they change, without polling.
class KeyLockMonitor : public QObject
{
    Q_OBJECT

public:
    /// The X keyboard's indicators on xcb; elsewhere a monitor that knows nothing.
    static std::unique_ptr<KeyLockMonitor> create();

    using QObject::QObject;

    virtual KeyLockState state() const = 0;

Q_SIGNALS:
    void changed();
};
