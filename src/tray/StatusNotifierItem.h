#pragma once

#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>

/// One icon served to StatusNotifierItem hosts (the tray of Wayland desktops) on the session bus,
/// in place of Qt's tray icon: that one waits for the watcher's answer when it is made and shown,
/// and offers a menu that hosts open on a right click instead of sending the context request.
/// Nothing here waits for the bus: the item's name is asked for, and the item registered with the
/// watcher, without waiting for the answers.
class StatusNotifierItem : public QObject
{
    Q_OBJECT

public:
    /// What a host asks of the item.
    enum Request { Activate, SecondaryActivate, ContextMenu, Scroll };
    Q_ENUM(Request)

    /// Serves the item on bus, showing image and tip, and registers it with the watcher.
    StatusNotifierItem(const QDBusConnection &bus, const QIcon &image, const QString &tip, QObject *parent = nullptr);
    /// Leaves the bus: the watcher drops the item when its name goes.
    ~StatusNotifierItem() override;

    /// Whether the item could be served: one item at a time per connection.
    bool isServed() const { return served; }
    void setImage(const QIcon &image);
    void setTip(const QString &tip);
    /// Registers again, with a watcher that has just started.
    void registerWithWatcher();

Q_SIGNALS:
    void requested(StatusNotifierItem::Request request);
    /// For the bus: the host reads the changed properties again.
    void NewIcon();
    void NewToolTip();

private:
    friend class StatusNotifierItemAdaptor;

    QDBusConnection bus;
    QString serviceName;
    QIcon image;
    QString tip;
    bool served = false;
    bool named = false;
};
