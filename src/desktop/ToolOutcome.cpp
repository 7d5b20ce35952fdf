#include "ToolOutcome.h"

#include "desktop/Logging.h"

#include <QDir>
#include <QRegularExpression>

#include <csignal>
#include <cstring>

namespace {

constexpr int ShownLines = 3;
constexpr int MaxLineLength = 200;

// Wine's debug channels: "fixme:ntdll:...", "0024:err:module:..." (with process and thread ids).
const QRegularExpression WineDebugLine(QStringLiteral("^(?:[0-9a-f]+:)*(?:fixme|err|warn|trace):"));

// A failure that Wine explains in what it wrote, in words the user can act on; empty for none.
QString wineExplanation(const ToolLaunch &launch, const ToolExit &exit)
{
    const QString output = QString::fromUtf8(exit.errorTail);
    if (output.contains(QLatin1String("wine32 is missing"))
        || (output.contains(QLatin1String("ntdll.dll"), Qt::CaseInsensitive)
            && output.contains(QLatin1String("c0000135"), Qt::CaseInsensitive)))
        return QStringLiteral("This Wine cannot run 32-bit Windows programs. To add that: %1.")
            .arg(wine32Advice(launch.wine));
    const QString prefix = QDir::toNativeSeparators(winePrefix(launch.start.environment));
    if (output.contains(QLatin1String("is a 32-bit installation")))
        return QStringLiteral("The Wine folder %1 was made for 32-bit programs only. Move it away (Wine makes a new "
                              "one at the next start) or set WINEPREFIX to another folder.")
            .arg(prefix);
    if (output.contains(QLatin1String("not supported in wow64 mode")))
        return QStringLiteral("This Wine runs 32-bit programs in a 64-bit Wine folder and does not take "
                              "WINEARCH=win32: unset WINEARCH, and use a Wine folder made without it.");
    if (launch.machine == PeMachine::I386 && (exit.status == 128 + SIGSEGV || exit.signal == SIGSEGV))
        return QStringLiteral("A 32-bit Windows tool crashed: where the kernel runs no 32-bit code (its 32-bit "
                              "emulation is off), none can run. A 64-bit build of the tool can.");
    return {};
}

} // namespace

QStringList lastMeaningfulLines(const QByteArray &output, int count)
{
    QStringList lines;
    const QStringList all = QString::fromUtf8(output).split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (auto line = all.crbegin(); line != all.crend() && lines.size() < count; ++line) {
        const QString text = line->trimmed();
        if (!text.isEmpty() && !WineDebugLine.match(text).hasMatch())
            lines.prepend(text.size() > MaxLineLength ? text.left(MaxLineLength) + QChar(0x2026) : text);
    }
    return lines;
}

Notice toolFailureNotice(const QString &tool, const QString &file, const ToolLaunch &launch, const ToolExit &exit)
{
    const QString how = exit.signal != 0
        ? QStringLiteral("was stopped by signal %1 (%2)").arg(exit.signal).arg(QString::fromLocal8Bit(strsignal(exit.signal)))
        : QStringLiteral("ended with exit status %1").arg(exit.status);
    QStringList body { QStringLiteral("%1 on %2 %3.").arg(tool, file, how) };
    body += lastMeaningfulLines(exit.errorTail, ShownLines);
    if (launch.machine != PeMachine::NotWindows) {
        qCDebug(lcWine).noquote() << tool << how << "under Wine; its error output ends:\n" << exit.errorTail;
        if (const QString explanation = wineExplanation(launch, exit); !explanation.isEmpty())
            body += explanation;
    }
    return { QStringLiteral("%1 failed").arg(tool.section(QLatin1Char('\\'), -1)), body.join(QLatin1Char('\n')) };
}

Notice winePreparingNotice(const QString &prefix)
{
    return { QStringLiteral("Wine is preparing its folder"),
        QStringLiteral("Wine is setting up %1 for Windows tools. This first conversion takes a while; the next ones "
                       "start at once.")
            .arg(QDir::toNativeSeparators(prefix)) };
}
