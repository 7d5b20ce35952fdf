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

qint64 FakeDesktop::startProcess(const QString &commandLine)
{
    const QString program = commandLine.section(QLatin1Char(' '), 0, 0);
    if (unstartable.contains(program))
        throw DesktopError { DesktopError::FileNotFound, QStringLiteral("File not found: %1").arg(program) };
    startedCommandLines.append(commandLine);
    return 1000 + startedCommandLines.size();
}

bool FakeDesktop::notifyIcon(quint32 message, const TrayIconData &data)
{
    const QWidget *owner = QWidget::find(WId(data.hWnd));
    notifyCalls.append({ message, data, owner && owner->isVisible() });
    return message == DeleteIcon || trayAvailable;
}

QString driveFormOf(const QString &nativePath)
{
    return QStringLiteral("C:") + QString(nativePath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}
