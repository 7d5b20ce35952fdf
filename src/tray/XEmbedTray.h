#pragma once

#include <memory>

class NotificationArea;

/// Docks icons in the freedesktop system tray (XEmbed); refuses them while no tray runs. Null
/// when the program does not run on X11.
std::unique_ptr<NotificationArea> createXEmbedTray();
