#pragma once

#include "tray/NotificationArea.h"
#include "tray/StatusNotifierItem.h"

#include <QDBusConnection>
#include <QHash>

#include <optional>

/// Icons served as StatusNotifierItems where a host runs. Such a host reports requests, not
/// buttons: an activation stands for a left press, a context request for a right release. When the
/// host goes away and none comes back within the grace time, the icons are lost.
///
/// No call waits for the bus: whether a host is registered is asked asynchronously whenever the
/// watcher or its hosts change, and an add answers from the last reply.
class StatusNotifierArea : public NotificationArea
{
    Q_OBJECT

public:
    /// Follows the StatusNotifierWatcher on bus and its hosts.
    explicit StatusNotifierArea(const QDBusConnection &bus, QObject *parent = nullptr);

    /// The mouse message a host's request stands for; 0 for one that stands for none.
    static qint32 mouseMessageFor(StatusNotifierItem::Request request);

    bool add(const TrayIconData &data, const QIcon &image) override;
    bool remove(const TrayIconData &data) override;

protected:
    QList<IconKey> iconKeys() const override { return icons.keys(); }
    bool showsNowhere(IconKey key) const override
    {
        const auto icon = icons.constFind(key);
        return icon != icons.cend() && (hostRegistered != true || !icon->shown);
    }

private Q_SLOTS:
    void askHost();

private:
    struct Icon
    {
        QIcon image;
        QString tip;
        StatusNotifierItem *shown = nullptr;
    };

    void hostAnswered(quint64 question, bool registered);
    void show(IconKey key, Icon &icon);

    QDBusConnection bus;
    /// Whether a host is registered, as last answered; empty while the question is open.
    std::optional<bool> hostRegistered = false;
    quint64 questionsAsked = 0;
    QHash<IconKey, Icon> icons;
};
