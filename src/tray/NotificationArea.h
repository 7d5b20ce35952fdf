#pragma once

#include "desktop/TrayIconData.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPair>
#include <QTimer>

#include <memory>
#include <vector>

/// The desktop's notification area: adds and deletes icons by window and icon number and
/// reports each mouse action on them as the mouse message number it stands for.
class NotificationArea : public QObject
{
    Q_OBJECT

public:
    /// How long an icon whose tray went away waits for a tray to take it back.
    static constexpr int LostGraceMs = 2000;

    /// The implementation for the running platform: an XEmbed tray icon on X11, Qt's
    /// StatusNotifierItem icon where only that exists, and one that refuses every add elsewhere.
    static std::unique_ptr<NotificationArea> create();
    /// An area that puts each new icon in the first of trays that accepts it.
    static std::unique_ptr<NotificationArea> firstAccepting(std::vector<std::unique_ptr<NotificationArea>> trays);

    explicit NotificationArea(QObject *parent = nullptr);

    /// Adds the icon the record names, showing image and the record's tip; false when refused.
    /// Adding an icon that is already there updates its image and tip.
    virtual bool add(const TrayIconData &data, const QIcon &image) = 0;
    /// Deletes the icon of the record's window and icon number; false when there is none.
    virtual bool remove(const TrayIconData &data) = 0;

Q_SIGNALS:
    /// A mouse action on an icon, as a TrayIconData::MouseMessage.
    void mouseMessage(quint32 window, quint32 iconId, qint32 message);
    /// The icon's tray went away and no tray took it back within LostGraceMs. The icon stays
    /// recorded, showing nowhere, until it is deleted.
    void iconLost(quint32 window, quint32 iconId);

protected:
    /// An icon by its window and icon number.
    using IconKey = QPair<quint32, quint32>;

    /// Starts the grace time unless it runs: when it ends, each icon that shows nowhere is lost.
    void startGraceTime();
    /// Starts the grace time again from its beginning.
    void restartGraceTime();
    void stopGraceTime();

    /// The icons recorded, for the report at the end of the grace time.
    virtual QList<IconKey> iconKeys() const { return {}; }
    /// Whether the icon is recorded and shows in no tray, so that it is lost when the grace time ends.
    virtual bool showsNowhere(IconKey) const { return false; }

private:
    void reportLost();

    QTimer graceTimer;
};
