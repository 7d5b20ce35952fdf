#pragma once

#include <QString>

class DriveMap;

/// Starts a command line as a hidden tool and returns its process id without waiting.
/// The program is the text before the first space, backslashes read as slashes, resolved against
/// workingDirectory and never searched in PATH. The rest is one drive-form path, handed over as
/// exactly one native argument: no shell, no splitting. The tool's standard streams are the null
/// device; it runs in its own session, leaves no zombie and outlives the program.
/// A Windows program (a PE file, run bit or not) runs through Wine, its argument as a Windows path.
/// Throws DesktopError 53 (missing program or Wine), 70 (not executable), 75 (start failed) or
/// 52 (a name Windows cannot hold), naming it.
qint64 startHiddenProcess(const QString &commandLine, const DriveMap &drives, const QString &workingDirectory);
