#include "ProcessStart.h"

#include "app/desktop/DesktopError.h"
#include "app/desktop/DriveMap.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

qint64 startHiddenProcess(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory)
{
    const qsizetype space = commandLine.indexOf(QLatin1Char(' '));
    const QString programText = space < 0 ? commandLine : commandLine.left(space);
    const QString argumentText = space < 0 ? QString() : commandLine.mid(space + 1);

    // Qt resolves a relative program against the child's directory, so make it absolute here.
    const QString program = QDir::cleanPath(
        QDir(workingDirectory).absoluteFilePath(QString(programText).replace(QLatin1Char('\\'), QLatin1Char('/'))));
    const QFileInfo info(program);
    if (!info.exists())
        throw DesktopError{DesktopError::FileNotFound, QStringLiteral("File not found: %1").arg(program)};
    if (info.isDir() || !info.isExecutable())
        throw DesktopError{DesktopError::PermissionDenied, QStringLiteral("Permission denied: %1 is not an executable program").arg(program)};

    QProcess process;
    process.setProgram(program);
    if (!argumentText.isEmpty())
        process.setArguments({drives.toNative(argumentText)});
    process.setWorkingDirectory(workingDirectory);
    // Only the member startDetached honours these; the static overload would inherit our streams.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());

    qint64 pid = 0;
    if (!process.startDetached(&pid))
        throw DesktopError{DesktopError::PathFileAccessError,
                           QStringLiteral("Cannot start %1: %2").arg(program, process.errorString())};
    return pid;
}
