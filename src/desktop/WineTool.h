#pragma once

#include <QString>
#include <QStringList>

/// What the headers of a tool file say: not a Windows program (started natively), or a PE
/// image for one of these processors.
enum class PeMachine { NotWindows, X86_64, I386, Other };

/// Reads the DOS and PE headers of path (a few bytes, never the whole file).
PeMachine peMachine(const QString &path);

/// How to start one tool: the program, its arguments and, when not empty, its whole environment.
struct ToolStart
{
    QString program;
    QStringList arguments;
    QStringList environment;
};

/// Where Wine is on this machine, told from its files alone, without starting it.
struct WineInstall
{
    QString wine; ///< the `wine` found on PATH, empty when none
    bool lacks32Bit = false; ///< known to run no 32-bit program: Debian's wrapper without its 32-bit loader

    /// The Wine on PATH; root stands for "/" (tests give an install tree).
    static WineInstall find(const QString &root = {});
};

/// What a user does here to let Wine run 32-bit programs, as far as the Wine install and the
/// distribution tell: a command to run, or where to look.
QString wine32Advice(const WineInstall &wine, const QString &root = {});

/// The Wine folder a Windows tool runs in: $WINEPREFIX, else ~/.wine, from "NAME=value" entries.
QString winePrefix(const QStringList &environment);

/// The Windows form of an absolute native path: `Z:` then the path with backslashes.
/// Throws DesktopError 52, naming the file, for a name Windows cannot hold.
QString windowsPath(const QString &nativePath);

/// The environment a Windows tool runs in, from ours as "NAME=value" entries: quiet Wine, no
/// menu entries or file associations on the user's desktop, a UTF-8 locale; the user's prefix.
QStringList wineEnvironment(QStringList environment);

/// The start of a Windows tool through Wine, with nativeArgument (if any) as a Windows path.
/// Throws DesktopError naming the tool when Wine certainly cannot run it.
ToolStart wineStart(const QString &tool, PeMachine machine, const QString &nativeArgument, const WineInstall &wine);
