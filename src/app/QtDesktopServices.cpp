#include "QtDesktopServices.h"

#include "desktop/DesktopNotifier.h"
#include "desktop/KeyLockMonitor.h"
#include "desktop/ProcessStart.h"
#include "desktop/Volumes.h"
#include "desktop/X11Desktop.h"
#include "help/HelpViewer.h"
#include "tray/NotificationArea.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

namespace {

QMessageBox::Icon iconOf(int flags)
{
    switch (flags & DesktopServices::IconMask) {
    case DesktopServices::CriticalIcon:
        return QMessageBox::Critical;
    case DesktopServices::QuestionIcon:
        return QMessageBox::Question;
    case DesktopServices::WarningIcon:
        return QMessageBox::Warning;
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
    , notifier(new DesktopNotifier(this))
{
    connect(tray.get(), &NotificationArea::mouseMessage, this, &DesktopServices::trayMouseMessage);
    connect(tray.get(), &NotificationArea::iconLost, this, &DesktopServices::trayIconLost);
    connect(keyLockMonitor.get(), &KeyLockMonitor::changed, this, &DesktopServices::keyLocksChanged);
}

QtDesktopServices::~QtDesktopServices() = default;

int QtDesktopServices::messageBox(QWidget *parent, const QString &text, int flags, const QString &title)
{
    QMessageBox box(iconOf(flags), title, text, QMessageBox::NoButton, parent);
    if (asksYesNo(flags)) {
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
    messageBox(parent, QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number).arg(error.description), Critical,
        ProgramTitle);
}

qint64 QtDesktopServices::startProcess(const QString &commandLine)
{
    const QString workingDirectory = QDir::currentPath();
    const ToolLaunch launch = prepareTool(commandLine, driveMap, workingDirectory);
    if (launch.machine != PeMachine::NotWindows)
        tellIfWinePrepares(launch);
    // Named as the command line names them: the tool string and the file's drive form.
    const QString tool = commandLine.section(QLatin1Char(' '), 0, 0);
    const QString file = commandLine.section(QLatin1Char(' '), 1);
    return spawnTool(launch, workingDirectory, this, [this, tool, file, launch](const ToolExit &exit) {
        if (exit.failed())
            notifier->show(toolFailureNotice(tool, file, launch, exit));
        Q_EMIT toolEnded();
    });
}

void QtDesktopServices::tellIfWinePrepares(const ToolLaunch &launch)
{
    // Wine's first start in a folder sets it up, which takes many seconds with no window to show.
    const QString prefix = winePrefix(launch.start.environment);
    if (QFileInfo::exists(prefix + QStringLiteral("/system.reg")) || toldWinePrefixes.contains(prefix))
        return;
    toldWinePrefixes.insert(prefix);
    notifier->show(winePreparingNotice(prefix));
}

DriveMap &QtDesktopServices::drives()
{
    return driveMap;
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

quintptr QtDesktopServices::htmlHelp(QWidget *owner, const QByteArray &file)
{
    return openHelpViewer(owner, QString::fromLocal8Bit(file));
}

KeyLockState QtDesktopServices::keyLocks() const
{
    return keyLockMonitor->state();
}

void QtDesktopServices::keepOffTaskbar(QWidget *window)
{
    // Qt has no window flag for it; other platforms have no task bar to keep off.
    X11Desktop::keepOffTaskbar(window);
}
