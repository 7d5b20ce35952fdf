#pragma once

#include "desktop/DesktopServices.h"
#include "desktop/DriveMap.h"

#include <QHash>
#include <QIcon>
#include <QSet>

#include <memory>

class DesktopNotifier;
class KeyLockMonitor;
class NotificationArea;
struct ToolLaunch;

/// The desktop services of a real Linux desktop: Qt message boxes, detached processes,
/// mounted volumes as drive letters, the tray and the key-lock indicators.
class QtDesktopServices : public DesktopServices
{
    Q_OBJECT

public:
    explicit QtDesktopServices(QObject *parent = nullptr);
    ~QtDesktopServices() override;

    int messageBox(QWidget *parent, const QString &text, int flags, const QString &title) override;
    void reportError(QWidget *parent, const DesktopError &error) override;
    qint64 startProcess(const QString &commandLine) override;
    DriveMap &drives() override;
    quint32 windowHandle(QWidget *window) override;
    quint32 iconHandle(QWidget *window) override;
    bool notifyIcon(quint32 message, const TrayIconData &data) override;
    quintptr htmlHelp(QWidget *owner, const QByteArray &file) override;
    KeyLockState keyLocks() const override;
    void keepOffTaskbar(QWidget *window) override;

private:
    void tellIfWinePrepares(const ToolLaunch &launch);

    DriveMap driveMap;
    std::unique_ptr<NotificationArea> tray;
    std::unique_ptr<KeyLockMonitor> keyLockMonitor;
    QHash<quint32, QIcon> iconsByHandle;
    DesktopNotifier *notifier;
    QSet<QString> toldWinePrefixes;
};
