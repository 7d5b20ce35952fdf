#include "NotificationArea.h"

#include "desktop/Logging.h"
#include "tray/StatusNotifierArea.h"
#include "tray/XEmbedTray.h"

#include <QHash>

namespace {

class FirstAcceptingArea : public NotificationArea
{
public:
    explicit FirstAcceptingArea(std::vector<std::unique_ptr<NotificationArea>> trays)
        : trays(std::move(trays))
    {
        for (const auto &tray : this->trays) {
            connect(tray.get(), &NotificationArea::mouseMessage, this, &NotificationArea::mouseMessage);
            connect(tray.get(), &NotificationArea::iconLost, this, &NotificationArea::iconLost);
        }
    }

    bool add(const TrayIconData &data, const QIcon &image) override
    {
        const IconKey key { data.hWnd, data.uID };
        if (NotificationArea *owner = owners.value(key))
            return owner->add(data, image);
        for (const auto &tray : trays) {
            if (tray->add(data, image)) {
                owners.insert(key, tray.get());
                return true;
            }
        }
        return false;
    }

    bool remove(const TrayIconData &data) override
    {
        NotificationArea *owner = owners.take(IconKey { data.hWnd, data.uID });
        return owner && owner->remove(data);
    }

private:
    std::vector<std::unique_ptr<NotificationArea>> trays;
    QHash<IconKey, NotificationArea *> owners;
};

} // namespace

NotificationArea::NotificationArea(QObject *parent)
    : QObject(parent)
{
    graceTimer.setSingleShot(true);
    graceTimer.setInterval(LostGraceMs);
    graceTimer.callOnTimeout(this, &NotificationArea::reportLost);
}

void NotificationArea::startGraceTime()
{
    if (!graceTimer.isActive())
        graceTimer.start();
}

void NotificationArea::restartGraceTime()
{
    graceTimer.start();
}

void NotificationArea::stopGraceTime()
{
    graceTimer.stop();
}

void NotificationArea::reportLost()
{
    QList<IconKey> lost = iconKeys();
    lost.removeIf([this](IconKey key) { return !showsNowhere(key); });
    // Each report may delete icons, so each is asked about again just before it.
    for (const IconKey &key : std::as_const(lost)) {
        if (!showsNowhere(key))
            continue;
        qCWarning(lcTray, "Tray icon %u of window 0x%x is lost: no tray showed it within %d ms", key.second, key.first,
            LostGraceMs);
        emit iconLost(key.first, key.second);
    }
}

std::unique_ptr<NotificationArea> NotificationArea::firstAccepting(std::vector<std::unique_ptr<NotificationArea>> trays)
{
    return std::make_unique<FirstAcceptingArea>(std::move(trays));
}

std::unique_ptr<NotificationArea> NotificationArea::create()
{
    // XEmbed first: it reports every button action; Qt's StatusNotifierItem only activations.
    std::vector<std::unique_ptr<NotificationArea>> trays;
    if (auto xembed = createXEmbedTray())
        trays.push_back(std::move(xembed));
    trays.push_back(std::make_unique<StatusNotifierArea>(QDBusConnection::sessionBus()));
    return firstAccepting(std::move(trays));
}
