#include "StatusNotifierArea.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>

namespace {

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");

} // namespace

StatusNotifierArea::StatusNotifierArea(const QDBusConnection &bus, QObject *parent)
    : NotificationArea(parent)
    , bus(bus)
{
    if (!this->bus.isConnected())
        return;
    // Hosts go away with the watcher, and register with it while it runs.
    const auto both = QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration;
    auto *watcher = new QDBusServiceWatcher(WatcherService, this->bus, both, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierArea::askHost);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &StatusNotifierArea::askHost);
    // From any sender: naming the watcher's service would make Qt look up its owner and wait
    // for the answer. The signals only prompt a new question. Qt D-Bus connects them by name only.
    for (const char *signal : { "StatusNotifierHostRegistered", "StatusNotifierHostUnregistered" }) {
        this->bus.connect(QString(), WatcherPath, WatcherService, QString::fromLatin1(signal), this, SLOT(askHost()));
    }
    askHost();
}

qint32 StatusNotifierArea::mouseMessageFor(StatusNotifierItem::Request request)
{
    switch (request) {
    case StatusNotifierItem::Activate:
        return TrayIconData::LeftButtonDown;
    case StatusNotifierItem::ContextMenu:
        return TrayIconData::RightButtonUp;
    default:
        return 0;
    }
}

bool StatusNotifierArea::add(const TrayIconData &data, const QIcon &image)
{
    const IconKey key { data.hWnd, data.uID };
    auto icon = icons.find(key);
    if (icon == icons.end()) {
        if (hostRegistered == false)
            return false;
        icon = icons.insert(key, {});
    }
    icon->image = image;
    icon->tip = data.tip();
    if (icon->shown) {
        icon->shown->setImage(image);
        icon->shown->setTip(icon->tip);
    } else if (hostRegistered == true) {
        show(key, *icon);
    } else {
        // Accepted while the question is open: a watcher that does not answer in time counts as none.
        startGraceTime();
    }
    return true;
}

bool StatusNotifierArea::remove(const TrayIconData &data)
{
    const auto icon = icons.find(IconKey { data.hWnd, data.uID });
    if (icon == icons.end())
        return false;
    if (StatusNotifierItem *shown = icon->shown) {
        // The removal may come from the item's own request.
        shown->disconnect(this);
        shown->deleteLater();
    }
    icons.erase(icon);
    return true;
}

void StatusNotifierArea::askHost()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        WatcherService, WatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({ WatcherService, QStringLiteral("IsStatusNotifierHostRegistered") });
    const quint64 question = ++questionsAsked;
    hostRegistered.reset();
    // The host may have gone: the icons wait the grace time for a host to be there again.
    if (!icons.isEmpty())
        startGraceTime();
    auto *reply = new QDBusPendingCallWatcher(bus.asyncCall(get, LostGraceMs), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this, [this, question](QDBusPendingCallWatcher *reply) {
        const QDBusPendingReply<QVariant> answer = *reply;
        hostAnswered(question, !answer.isError() && answer.value().toBool());
        reply->deleteLater();
    });
}

void StatusNotifierArea::hostAnswered(quint64 question, bool registered)
{
    // Only the latest question tells how things are now.
    if (question != questionsAsked)
        return;
    hostRegistered = registered;
    if (!registered)
        return;
    stopGraceTime();
    for (auto icon = icons.begin(); icon != icons.end(); ++icon) {
        // A watcher that has just started knows none of the items yet.
        if (icon->shown)
            icon->shown->registerWithWatcher();
        else
            show(icon.key(), *icon);
    }
}

void StatusNotifierArea::show(IconKey key, Icon &icon)
{
    auto *shown = new StatusNotifierItem(bus, icon.image, icon.tip, this);
    if (!shown->isServed()) {
        // Another item holds the connection's one place: this icon shows nowhere, so it is lost.
        delete shown;
        startGraceTime();
        return;
    }
    connect(shown, &StatusNotifierItem::requested, this, [this, key](StatusNotifierItem::Request request) {
        if (const qint32 message = mouseMessageFor(request))
            emit mouseMessage(key.first, key.second, message);
    });
    icon.shown = shown;
}
