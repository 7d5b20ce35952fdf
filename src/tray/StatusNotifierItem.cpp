#include "StatusNotifierItem.h"

#include "desktop/DesktopServices.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QImage>
#include <QtEndian>

namespace {

const QString ItemPath = QStringLiteral("/StatusNotifierItem");
constexpr int AnswerTimeoutMs = 2000;

// An image as the protocol carries it: width, height and ARGB32 pixels in network byte order.
struct IconPixmap
{
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using IconPixmaps = QList<IconPixmap>;

struct ToolTip
{
    QString iconName;
    IconPixmaps images;
    QString title;
    QString text;
};

QDBusArgument &operator<<(QDBusArgument &argument, const IconPixmap &pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, IconPixmap &pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const ToolTip &tip)
{
    argument.beginStructure();
    argument << tip.iconName << tip.images << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ToolTip &tip)
{
    argument.beginStructure();
    argument >> tip.iconName >> tip.images >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(IconPixmap)
Q_DECLARE_METATYPE(ToolTip)

/// The item's D-Bus face: the properties a host reads and the requests it sends. No Menu property:
/// a host then sends ContextMenu on a right click.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(IconPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem *item)
        : QDBusAbstractAdaptor(item)
        , item(item)
    {
        setAutoRelaySignals(true);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QCoreApplication::applicationName(); }
    QString title() const { return DesktopServices::ProgramTitle; }
    QString status() const { return QStringLiteral("Active"); }
    QString iconName() const { return {}; }
    bool itemIsMenu() const { return false; }
    ToolTip toolTip() const { return { {}, {}, item->tip, {} }; }

    IconPixmaps iconPixmap() const
    {
        IconPixmaps pixmaps;
        for (const int size : { 16, 22, 32, 48, 64 }) {
            const QImage image = item->image.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
            IconPixmap pixmap { image.width(), image.height(), QByteArray(int(image.sizeInBytes()), Qt::Uninitialized) };
            auto *out = reinterpret_cast<quint32 *>(pixmap.argb.data());
            for (int y = 0; y < image.height(); ++y) {
                const auto *line = reinterpret_cast<const quint32 *>(image.constScanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    *out++ = qToBigEndian(line[x]);
            }
            if (!image.isNull())
                pixmaps.append(pixmap);
        }
        return pixmaps;
    }

public Q_SLOTS:
    void Activate(int, int) { Q_EMIT item->requested(StatusNotifierItem::Activate); }
    void SecondaryActivate(int, int) { Q_EMIT item->requested(StatusNotifierItem::SecondaryActivate); }
    void ContextMenu(int, int) { Q_EMIT item->requested(StatusNotifierItem::ContextMenu); }
    void Scroll(int, const QString &) { Q_EMIT item->requested(StatusNotifierItem::Scroll); }

Q_SIGNALS:
    void NewIcon();
    void NewToolTip();

private:
    StatusNotifierItem *item;
};

StatusNotifierItem::StatusNotifierItem(const QDBusConnection &bus, const QIcon &image, const QString &tip,
    QObject *parent)
    : QObject(parent)
    , bus(bus)
    , image(image)
    , tip(tip)
{
    static const bool typesKnown = [] {
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<IconPixmaps>();
        qDBusRegisterMetaType<ToolTip>();
        return true;
    }();
    Q_UNUSED(typesKnown);
    static int items = 0;
    serviceName = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++items);

    new StatusNotifierItemAdaptor(this);
    served = this->bus.registerObject(ItemPath, this, QDBusConnection::ExportAdaptors);
    if (!served)
        return;
    // The watcher drops an item when its name goes, so each item has a name of its own.
    QDBusMessage request = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << serviceName << uint(4); // do not queue: ours at once, or not at all
    auto *answer = new QDBusPendingCallWatcher(this->bus.asyncCall(request, AnswerTimeoutMs), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *answer) {
        const QDBusPendingReply<uint> reply = *answer;
        named = !reply.isError() && reply.value() == 1; // the primary owner
        registerWithWatcher();
        answer->deleteLater();
    });
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!served)
        return;
    bus.unregisterObject(ItemPath);
    QDBusMessage release = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"));
    release << serviceName;
    bus.send(release);
}

void StatusNotifierItem::setImage(const QIcon &newImage)
{
    image = newImage;
    Q_EMIT NewIcon();
}

void StatusNotifierItem::setTip(const QString &newTip)
{
    tip = newTip;
    Q_EMIT NewToolTip();
}

void StatusNotifierItem::registerWithWatcher()
{
    if (!named)
        return;
    QDBusMessage registration = QDBusMessage::createMethodCall(QStringLiteral("org.kde.StatusNotifierWatcher"),
        QStringLiteral("/StatusNotifierWatcher"), QStringLiteral("org.kde.StatusNotifierWatcher"),
        QStringLiteral("RegisterStatusNotifierItem"));
    registration << serviceName;
    bus.send(registration);
}

#include "StatusNotifierItem.moc"
