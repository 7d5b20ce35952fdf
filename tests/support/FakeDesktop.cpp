#include "FakeDesktop.h"

FakeDesktop::FakeDesktop(QObject *parent)
    : DesktopServices(parent)
    , driveMap([this] { return volumes; })
{
}

int FakeDesktop::messageBox(QWidget *, const QString &text, int flags, const QString &title)
{
    messageBoxes.append({ text, flags, title });
    if (!answers.isEmpty())
        return answers.dequeue();
    return asksYesNo(flags) ? No : Ok;
}

void FakeDesktop::reportError(QWidget *, const DesktopError &error)
{
    errors.append(error);
}

qint64 FakeDesktop::startProcess(const QString &commandLine)
{
    const QString program = commandLine.section(QLatin1Char(' '), 0, 0);
    if (unstartable.contains(program))
        throw DesktopError { DesktopError::FileNotFound, QStringLiteral("File not found: %1").arg(program) };
    startedCommandLines.append(commandLine);
    return 1000 + startedCommandLines.size();
}

quint32 FakeDesktop::windowHandle(QWidget *window)
{
    const auto handle = quint32(window->winId());
    windows.insert(handle, window);
    return handle;
}

quint32 FakeDesktop::iconHandle(QWidget *)
{
    return nextIconHandle++;
}

bool FakeDesktop::notifyIcon(quint32 message, const TrayIconData &data)
{
    const QWidget *owner = windows.value(data.hWnd);
    notifyCalls.append({ message, data, owner && owner->isVisible() });
    return message == DeleteIcon || trayAvailable;
}

quintptr FakeDesktop::htmlHelp(QWidget *, const QByteArray &file)
{
    helpFiles.append(file);
    return 0;
}

void FakeDesktop::setKeyLocks(KeyLockState state)
{
    locks = state;
    Q_EMIT keyLocksChanged();
}

void FakeDesktop::clickTray(const TrayIconData &record, qint32 mouseMessage)
{
    Q_EMIT trayMouseMessage(record.hWnd, record.uID, mouseMessage);
}

QString driveFormOf(const QString &nativePath)
{
    QString path = nativePath;
    return QStringLiteral("C:") + path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}
