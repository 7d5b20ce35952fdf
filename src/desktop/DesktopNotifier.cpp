#include "DesktopNotifier.h"

#include "desktop/DesktopServices.h"
#include "desktop/Logging.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>

#include <cstdio>

namespace {

void printNotice(const Notice &notice)
{
    std::fprintf(stderr, "%s: %s\n%s\n", qPrintable(DesktopServices::ProgramTitle), qPrintable(notice.summary),
        qPrintable(notice.body));
    std::fflush(stderr);
}

} // namespace

void DesktopNotifier::show(const Notice &notice)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcNotify, "No session bus (%s): the notice goes to standard error",
            qUtf8Printable(bus.lastError().message()));
        return printNotice(notice);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    // The icon by the name the desktop entry installs; the entry lets the desktop group the notices.
    const QString entry = QGuiApplication::desktopFileName();
    QVariantMap hints;
    if (!entry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), entry);
    // The body may be read as markup: a tool's output is text.
    call << DesktopServices::ProgramTitle << uint(0) << entry << notice.summary << notice.body.toHtmlEscaped()
         << QStringList() << hints << -1;
    auto *answer = new QDBusPendingCallWatcher(bus.asyncCall(call, AnswerTimeoutMs), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [notice](QDBusPendingCallWatcher *watcher) {
        if (watcher->isError()) {
            const QDBusError error = watcher->error();
            qCWarning(lcNotify, "Cannot send a notification (%s: %s): it goes to standard error",
                qUtf8Printable(error.name()), qUtf8Printable(error.message()));
            printNotice(notice);
        }
        watcher->deleteLater();
    });
}
