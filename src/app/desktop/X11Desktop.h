#pragma once

#include <memory>

class KeyLockMonitor;
class NotificationArea;
class QWidget;

/// The parts of the desktop services that talk to the X server directly. Each returns null
/// when the program does not run on X11.
namespace X11Desktop {

/// Follows the Num Lock and Caps Lock indicators through XKB indicator events.
std::unique_ptr<KeyLockMonitor> createKeyLockMonitor();
/// Docks icons in the freedesktop system tray (XEmbed); refuses them while no tray runs.
std::unique_ptr<NotificationArea> createXEmbedTray();
/// Asks the window manager to keep a top-level window out of the task bar and the pager; does
/// nothing off X11. Must run before the window is first mapped.
void keepOffTaskbar(QWidget *window);

} // namespace X11Desktop
