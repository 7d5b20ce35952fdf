#include "NotificationArea.h"

#include "tray/StatusNotifierArea.h"
#include "tray/XEmbedTray.h"

#include <QHash>
#include <QPair>

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
        const Key key { data.hWnd, data.uID };
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
        NotificationArea *owner = owners.take(Key { data.hWnd, data.uID });
        return owner && owner->remove(data);
    }

private:
    using Key = QPair<quint32, quint32>;
    std::vector<std::unique_ptr<NotificationArea>> trays;
    QHash<Key, NotificationArea *> owners;
};

} // namespace

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
