#include "WineTool.h"

#include "app/desktop/DesktopError.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

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

WineInstall WineInstall::find()
{
    return { QStandardPaths::findExecutable(QStringLiteral("wine")),
        QFileInfo(QStringLiteral("/usr/lib/wine/wine")).isExecutable() };
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
    if (machine == PeMachine::I386 && !wine.runs32Bit)
        throw DesktopError { DesktopError::FileNotFound,
            QStringLiteral("%1 is a 32-bit Windows program and needs 32-bit Wine: as root run "
                           "dpkg --add-architecture i386, apt-get update, apt-get install wine32:i386")
                .arg(tool) };

    ToolStart start { wine.wine, { tool }, wineEnvironment(QProcess::systemEnvironment()) };
    if (!nativeArgument.isEmpty())
        start.arguments.append(windowsPath(nativeArgument));
    return start;
}
