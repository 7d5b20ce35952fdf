#include "WineTool.h"

#include "desktop/DesktopError.h"
#include "desktop/Logging.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

namespace {

// Linkers put the PE header within the first few hundred bytes; a larger offset is not a PE file.
constexpr quint32 MaxPeOffset = 4096;

QString variable(const QStringList &environment, QLatin1StringView name)
{
    const QString prefix = name + QLatin1Char('=');
    for (const QString &entry : environment) {
        if (entry.startsWith(prefix))
            return entry.mid(prefix.size());
    }
    return {};
}

void setVariable(QStringList &environment, QLatin1StringView name, const QString &value)
{
    const QString prefix = name + QLatin1Char('=');
    environment.removeIf([&prefix](const QString &entry) { return entry.startsWith(prefix); });
    environment.append(prefix + value);
}

// The character set the C library would use: the first of LC_ALL, LC_CTYPE, LANG that is set.
bool usesUtf8(const QStringList &environment)
{
    for (const auto name : { QLatin1StringView("LC_ALL"), QLatin1StringView("LC_CTYPE"), QLatin1StringView("LANG") }) {
        const QString locale = variable(environment, name);
        if (locale.isEmpty())
            continue;
        const QString codeset = locale.section(QLatin1Char('.'), 1).section(QLatin1Char('@'), 0, 0).toLower();
        return codeset == QLatin1String("utf-8") || codeset == QLatin1String("utf8");
    }
    return false;
}

bool windowsCanHold(const QString &name)
{
    if (name.endsWith(QLatin1Char(' ')) || name.endsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || QStringView(u"\\:*?\"<>|").contains(c))
            return false;
    }
    return true;
}

} // namespace

PeMachine peMachine(const QString &path)
{
    QFile file(path);
    // Unbuffered: two small reads, not a buffer's worth of a large tool.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return PeMachine::NotWindows;
    const QByteArray dos = file.read(0x40);
    if (dos.size() < 0x40 || !dos.startsWith("MZ"))
        return PeMachine::NotWindows;
    const quint32 offset = qFromLittleEndian<quint32>(dos.constData() + 0x3C);
    if (offset > MaxPeOffset || !file.seek(offset))
        return PeMachine::NotWindows;
    // The signature, then the COFF header's first field: the machine.
    const QByteArray pe = file.read(6);
    if (pe.size() < 6 || !pe.startsWith(QByteArray("PE\0\0", 4)))
        return PeMachine::NotWindows;
    switch (qFromLittleEndian<quint16>(pe.constData() + 4)) {
    case 0x8664:
        return PeMachine::X86_64;
    case 0x14c:
        return PeMachine::I386;
    default:
        return PeMachine::Other;
    }
}

WineInstall WineInstall::find(const QString &root)
{
    WineInstall install { QStandardPaths::findExecutable(QStringLiteral("wine")), false };
    // Links lead to the real install: /usr/bin/wine to Debian's wrapper, or to /opt/wine-stable.
    const QString real = QFileInfo(install.wine).canonicalFilePath();
    if (real.isEmpty())
        return install;
    const QString bin = QFileInfo(real).absolutePath();
    // A 32-bit loader, or the 32-bit Windows side of a 64-bit Wine (its "new WoW64" form).
    const QStringList evidence { root + QStringLiteral("/usr/lib/wine/wine"),
        root + QStringLiteral("/usr/lib/i386-linux-gnu/wine/wine"),
        bin + QStringLiteral("/../lib/wine/i386-windows/ntdll.dll"),
        bin + QStringLiteral("/../lib64/wine/i386-windows/ntdll.dll"),
        bin + QStringLiteral("/../lib/x86_64-linux-gnu/wine/i386-windows/ntdll.dll") };
    if (std::any_of(evidence.begin(), evidence.end(), [](const QString &path) { return QFileInfo(path).isFile(); }))
        return install;
    QFile file(real);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcWine, "Cannot read %s to tell whether it runs 32-bit programs (%s): taking it that it does",
            qUtf8Printable(real), qUtf8Printable(file.errorString()));
        return install;
    }
    const QByteArray head = file.read(4096);
    // An ELF for the i386 (machine 3 at offset 18): itself the 32-bit loader.
    if (head.startsWith("\x7f" "ELF\x01") && head.size() > 19 && head[18] == 3 && head[19] == 0)
        return install;
    // Debian's wrapper names the 32-bit loader it would run ("wine32=/usr/lib/wine/wine"): only
    // where that is certainly absent, not merely unreadable, is 32-bit support known to be missing.
    static const QRegularExpression loaderLine(QStringLiteral("^wine32=(/\\S+)$"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch loader = loaderLine.match(QString::fromUtf8(head));
    struct stat status;
    install.lacks32Bit = head.startsWith("#!") && loader.hasMatch()
        && ::stat(QFile::encodeName(root + loader.captured(1)).constData(), &status) != 0 && errno == ENOENT;
    qCDebug(lcWine, "Wine %s runs 32-bit programs: %s", qUtf8Printable(real), install.lacks32Bit ? "no" : "yes");
    return install;
}

QString wine32Advice(const WineInstall &wine, const QString &root)
{
    const QString real = QFileInfo(wine.wine).canonicalFilePath();
    if (real.startsWith(QLatin1String("/opt/wine-")))
        return QStringLiteral("install the 32-bit part of WineHQ's package, for instance: sudo dpkg --add-architecture "
                              "i386 && sudo apt update && sudo apt install %1-i386:i386")
            .arg(real.section(QLatin1Char('/'), 2, 2));
    // The distribution's family, from os-release: its ID and the IDs it is like.
    QFile osRelease(root + QStringLiteral("/etc/os-release"));
    QStringList family;
    if (osRelease.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : osRelease.readAll().split('\n')) {
            if (line.startsWith("ID=") || line.startsWith("ID_LIKE="))
                family += QString::fromUtf8(line.mid(line.indexOf('=') + 1)).remove(QLatin1Char('"')).split(QLatin1Char(' '));
        }
    }
    if (family.contains(QLatin1String("debian")) || family.contains(QLatin1String("ubuntu")))
        return QStringLiteral("sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine32:i386");
    if (family.contains(QLatin1String("fedora")))
        return QStringLiteral("sudo dnf install wine-core.i686, or a current wine package, which runs 32-bit "
                              "programs itself");
    if (family.contains(QLatin1String("arch")))
        return QStringLiteral("sudo pacman -Syu wine (its current package runs 32-bit programs itself)");
    if (family.contains(QLatin1String("suse")) || family.contains(QLatin1String("opensuse")))
        return QStringLiteral("sudo zypper install wine-32bit");
    return QStringLiteral("install your distribution's 32-bit Wine support");
}

QString winePrefix(const QStringList &environment)
{
    const QString prefix = variable(environment, QLatin1StringView("WINEPREFIX"));
    return prefix.isEmpty() ? variable(environment, QLatin1StringView("HOME")) + QStringLiteral("/.wine") : prefix;
}

QString windowsPath(const QString &nativePath)
{
    const QStringList parts = nativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        if (!windowsCanHold(part))
            throw DesktopError { DesktopError::BadFileName,
                QStringLiteral("%1: a Windows program cannot open this name (it holds one of "
                               "\\ : * ? \" < > |, a control character, or ends in a space or a "
                               "dot); rename it")
                    .arg(nativePath) };
    }
    return QStringLiteral("Z:\\") + parts.join(QLatin1Char('\\'));
}

QStringList wineEnvironment(QStringList environment)
{
    if (variable(environment, QLatin1StringView("WINEDEBUG")).isEmpty())
        setVariable(environment, QLatin1StringView("WINEDEBUG"), QStringLiteral("-all"));
    const QString overrides = variable(environment, QLatin1StringView("WINEDLLOVERRIDES"));
    const QString menuBuilder = QStringLiteral("winemenubuilder.exe=d");
    setVariable(environment, QLatin1StringView("WINEDLLOVERRIDES"),
        overrides.isEmpty() ? menuBuilder : overrides + QLatin1Char(';') + menuBuilder);
    // Under a non-UTF-8 locale Wine mangles every non-ASCII file name.
    if (!usesUtf8(environment))
        setVariable(environment, QLatin1StringView("LC_ALL"), QStringLiteral("C.UTF-8"));
    return environment;
}

ToolStart wineStart(const QString &tool, PeMachine machine, const QString &nativeArgument, const WineInstall &wine)
{
    if (machine == PeMachine::Other)
        throw DesktopError { DesktopError::PathFileAccessError,
            QStringLiteral("Cannot start %1: it is a Windows program for another processor").arg(tool) };
    if (wine.wine.isEmpty())
        throw DesktopError { DesktopError::FileNotFound,
            QStringLiteral("%1 is a Windows program and needs Wine: install the wine package").arg(tool) };
    if (machine == PeMachine::I386 && wine.lacks32Bit)
        throw DesktopError { DesktopError::FileNotFound,
            QStringLiteral("%1 is a 32-bit Windows program and needs 32-bit Wine: %2").arg(tool, wine32Advice(wine)) };

    ToolStart start { wine.wine, { tool }, wineEnvironment(QProcess::systemEnvironment()) };
    if (!nativeArgument.isEmpty())
        start.arguments.append(windowsPath(nativeArgument));
    return start;
}
