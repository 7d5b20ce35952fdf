#include "StatusNotifierArea.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>

namespace {

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

StatusNotifierArea::~StatusNotifierArea()
{
    qDeleteAll(icons);
}

bool StatusNotifierArea::hostAvailable()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(WatcherService))
        return false;
    QDBusInterface watcher(WatcherService, WatcherPath, WatcherService, bus);
    return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
}

qint32 StatusNotifierArea::mouseMessageFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TrayIconData::LeftButtonDown;
    case QSystemTrayIcon::Context:
        return TrayIconData::RightButtonUp;
    default:
        return 0;
    }
}

bool StatusNotifierArea::add(const TrayIconData &data, const QIcon &image)
{
    const Key key { data.hWnd, data.uID };
    QSystemTrayIcon *icon = icons.value(key);
    if (!icon) {
        if (!hostAvailable())
            return false;
        watchHost();
        icon = new QSystemTrayIcon;
        connect(icon, &QSystemTrayIcon::activated, this, [this, key](QSystemTrayIcon::ActivationReason reason) {
            if (const qint32 message = mouseMessageFor(reason))
                emit mouseMessage(key.first, key.second, message);
        });
        icons.insert(key, icon);
    }
    icon->setIcon(image);
    icon->setToolTip(data.tip());
    icon->show();
    return true;
}

bool StatusNotifierArea::remove(const TrayIconData &data)
{
    QSystemTrayIcon *icon = icons.take(Key { data.hWnd, data.uID });
    if (!icon)
        return false;
    // The removal may come from the icon's own activation.
    icon->disconnect(this);
    icon->hide();
    icon->deleteLater();
    return true;
}

void StatusNotifierArea::watchHost()
{
    if (watcherService)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The watcher going away takes its hosts with it; a host going away is a signal of the watcher.
    watcherService = new QDBusServiceWatcher(WatcherService, bus, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcherService, &QDBusServiceWatcher::serviceUnregistered, this, &StatusNotifierArea::hostMayHaveGone);
    // Qt D-Bus connects its signals to slots by name only.
    bus.connect(WatcherService, WatcherPath, WatcherService, QStringLiteral("StatusNotifierHostUnregistered"), this,
        SLOT(hostMayHaveGone()));
    lostTimer.setSingleShot(true);
    lostTimer.setInterval(LostGraceMs);
    connect(&lostTimer, &QTimer::timeout, this, &StatusNotifierArea::reportLost);
}

void StatusNotifierArea::hostMayHaveGone()
{
    // Qt hands its icons to a watcher and host that come back; give them the time to.
    if (!icons.isEmpty() && !lostTimer.isActive())
        lostTimer.start();
}

void StatusNotifierArea::reportLost()
{
    if (icons.isEmpty() || hostAvailable())
        return;
    // Each report may delete icons, so the keys are taken first.
    const QList<Key> lost = icons.keys();
    for (const Key &key : lost) {
        if (icons.contains(key))
            emit iconLost(key.first, key.second);
    }
}
