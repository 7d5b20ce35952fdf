#include "StatusNotifierArea.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

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
    const Key key{data.hWnd, data.uID};
    QSystemTrayIcon *icon = icons.value(key);
    if (!icon) {
        if (!hostAvailable())
            return false;
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
    QSystemTrayIcon *icon = icons.take(Key{data.hWnd, data.uID});
    if (!icon)
        return false;
    // The removal may come from the icon's own activation.
    icon->disconnect(this);
    icon->hide();
    icon->deleteLater();
    return true;
}
