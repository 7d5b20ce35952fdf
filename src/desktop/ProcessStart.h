#pragma once

#include "desktop/WineTool.h"

#include <QByteArray>
#include <QString>

#include <functional>

class DriveMap;
class QObject;

/// A tool ready to start: how to start it, and what it is.
struct ToolLaunch
{
    ToolStart start;
    PeMachine machine = PeMachine::NotWindows;
    WineInstall wine; ///< where a Windows tool's Wine is; empty for a native tool
};

/// How a tool ended, and the end of what it wrote to its standard error.
struct ToolExit
{
    int status = 0; ///< its exit status, when no signal ended it
    int signal = 0; ///< the signal that ended it, or 0
    QByteArray errorTail; ///< the last few KiB of its error output

    bool failed() const { return signal != 0 || status != 0; }
};

using ToolEndHandler = std::function<void(const ToolExit &)>;

/// How started tools are collected: from the event loop through a pidfd, by polling their pid
/// from the event loop where the kernel has no pidfd (before 5.3), or by a thread each where no
/// event loop runs (no outcome then). The best available is used; tests force the fallbacks.
enum class ToolCollector { Pidfd, Poll, Thread };
void forceToolCollector(ToolCollector collector);

/// Reads a command line as a tool start. The program is the text before the first space,
/// backslashes read as slashes, resolved against workingDirectory and never searched in PATH. The
/// rest is one drive-form path, handed over as exactly one native argument: no shell, no
/// splitting. A Windows program (a PE file, run bit or not) runs through Wine, its argument as a
/// Windows path. Throws DesktopError 53 (missing program or Wine), 70 (not executable), 75 (start
/// failed) or 52 (a name Windows cannot hold), naming it.
ToolLaunch prepareTool(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory);

/// Starts a prepared tool hidden and returns its process id without waiting. Standard input and
/// output are the null device; it runs in its own session, leaves no zombie and outlives the
/// program. With onEnd, its error output goes to an unlinked temporary file, kept to a bounded
/// size, and onEnd runs from the event loop once it has ended (not if context is gone by then);
/// without, its error output is the null device too. Throws DesktopError 75 when it cannot start.
qint64 spawnTool(const ToolLaunch &launch, const QString &workingDirectory, QObject *context = nullptr,
    ToolEndHandler onEnd = {});

/// prepareTool, then spawnTool.
qint64 startHiddenProcess(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory,
    QObject *context = nullptr, ToolEndHandler onEnd = {});
