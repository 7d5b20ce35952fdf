#pragma once

#include "tray/NotificationArea.h"

#include <QHash>
#include <QPair>
#include <QSystemTrayIcon>
#include <QTimer>

class QDBusServiceWatcher;

/// Icons served by Qt's tray icon where a StatusNotifierItem host runs. Such a host reports
/// activations only: an activation stands for a left press, a context request for a right
/// release. When the host goes away and none comes back within the grace time, the icons are lost.
class StatusNotifierArea : public NotificationArea
{
    Q_OBJECT

public:
    using NotificationArea::NotificationArea;
    ~StatusNotifierArea() override;

    /// Whether a StatusNotifierItem host is registered on the session bus.
    static bool hostAvailable();
    /// The mouse message an activation stands for; 0 for one that stands for none.
    static qint32 mouseMessageFor(QSystemTrayIcon::ActivationReason reason);

    bool add(const TrayIconData &data, const QIcon &image) override;
    bool remove(const TrayIconData &data) override;

private Q_SLOTS:
    void hostMayHaveGone();

private:
    void watchHost();
    void reportLost();

    using Key = QPair<quint32, quint32>;
    QHash<Key, QSystemTrayIcon *> icons;
    QDBusServiceWatcher *watcherService = nullptr;
    QTimer lostTimer;
};
