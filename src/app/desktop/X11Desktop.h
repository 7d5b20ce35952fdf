#pragma once

#include <memory>

class KeyLockMonitor;
class NotificationArea;

/// The parts of the desktop services that talk to the X server directly. Each returns null
/// when the program does not run on X11.
namespace X11Desktop {

/// Follows the Num Lock and Caps Lock indicators through XKB indicator events.
std::unique_ptr<KeyLockMonitor> createKeyLockMonitor();
/// Docks icons in the freedesktop system tray (XEmbed); refuses them while no tray runs.
std::unique_ptr<NotificationArea> createXEmbedTray();

} // namespace X11Desktop
