#include "QtDesktopServices.h"

#include "app/desktop/KeyLockMonitor.h"
#include "app/desktop/ProcessStart.h"
#include "app/desktop/Volumes.h"
#include "app/desktop/help/HelpViewer.h"
#include "tray/NotificationArea.h"

#include <QDir>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

namespace {

constexpr int ButtonsMask = 0x0f;
constexpr int YesNoButtons = 4;
constexpr int IconMask = 0xf0;

QMessageBox::Icon iconOf(int flags)
{
    switch (flags & IconMask) {
    case 16:
        return QMessageBox::Critical;
    case 32:
        return QMessageBox::Question;
    case 48:
        return QMessageBox::Warning;
    case 64:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

QtDesktopServices::QtDesktopServices(QObject *parent)
    : DesktopServices(parent)
    , driveMap([] { return scanVolumes(); })
    , tray(NotificationArea::create())
    , keyLockMonitor(KeyLockMonitor::create())
{
    connect(tray.get(), &NotificationArea::mouseMessage, this, &DesktopServices::trayMouseMessage);
    connect(keyLockMonitor.get(), &KeyLockMonitor::changed, this, &DesktopServices::keyLocksChanged);
}

QtDesktopServices::~QtDesktopServices() = default;

int QtDesktopServices::messageBox(QWidget *parent, const QString &text, int flags, const QString &title)
{
    QMessageBox box(iconOf(flags), title, text, QMessageBox::NoButton, parent);
    if ((flags & ButtonsMask) == YesNoButtons) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Yes : No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Ok;
}

void QtDesktopServices::reportError(QWidget *parent, const DesktopError &error)
{
    messageBox(parent, QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number).arg(error.description),
               Critical, QStringLiteral("Ombrix Converter"));
}

qint64 QtDesktopServices::startProcess(const QString &commandLine, int windowStyle)
{
    // Tools never get a window of their own, so every style runs hidden.
    Q_UNUSED(windowStyle);
    return startHiddenProcess(commandLine, driveMap, QDir::currentPath());
}

DriveMap &QtDesktopServices::drives()
{
    return driveMap;
}

double QtDesktopServices::twipsPerPixelX() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

quint32 QtDesktopServices::windowHandle(QWidget *window)
{
    return quint32(window->winId());
}

quint32 QtDesktopServices::iconHandle(QWidget *window)
{
    // The tray needs the image back from the handle it is given.
    const QIcon icon = window->windowIcon();
    const auto handle = quint32(icon.cacheKey() & 0xffffffffu) | 1u;
    iconsByHandle.insert(handle, icon);
    return handle;
}

bool QtDesktopServices::notifyIcon(quint32 message, const TrayIconData &data)
{
    switch (message) {
    case AddIcon:
        return tray->add(data, iconsByHandle.value(data.hIcon));
    case DeleteIcon:
        return tray->remove(data);
    default:
        return false;
    }
}

quintptr QtDesktopServices::htmlHelp(QWidget *owner, const QByteArray &file, quint32 command, quint32 data)
{
    // Only "display the default topic" is ever asked for.
    if (command != 0 || data != 0)
        return 0;
    return openHelpViewer(owner, QString::fromLocal8Bit(file));
}

KeyLockState QtDesktopServices::keyLocks() const
{
    return keyLockMonitor->state();
}
