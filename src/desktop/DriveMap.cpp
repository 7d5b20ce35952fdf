#include "DriveMap.h"

#include "desktop/DesktopError.h"

#include <QFile>

#include <algorithm>

DriveMap::DriveMap(Scanner scanner)
    : scanner(std::move(scanner))
{
    rescan();
}

void DriveMap::rescan()
{
    if (known.isEmpty())
        known.append({ QStringLiteral("C:"), { QStringLiteral("/"), true } });

    const QList<Volume> volumes = scanner ? scanner() : QList<Volume>();
    // A drive no longer listed stays lettered but unavailable, so a pulled stick reports error 68.
    for (qsizetype i = 1; i < known.size(); ++i)
        known[i].volume.available = false;
    for (const Volume &volume : volumes) {
        if (volume.mountPoint == QLatin1String("/"))
            continue;
        auto it = std::find_if(
            known.begin(), known.end(), [&](const Drive &d) { return d.volume.mountPoint == volume.mountPoint; });
        if (it != known.end()) {
            it->volume.available = volume.available;
        } else if (known.size() < 24) {
            known.append({ QString(QChar(char16_t(u'C' + known.size()))) + QLatin1Char(':'), volume });
        }
    }
}

QStringList DriveMap::drives() const
{
    QStringList letters;
    for (const Drive &drive : known)
        letters.append(drive.letter);
    return letters;
}

const DriveMap::Drive *DriveMap::find(const QString &drive) const
{
    const QString letter = drive.left(2).toUpper();
    for (const Drive &d : known) {
        if (d.letter == letter)
            return &d;
    }
    return nullptr;
}

QString DriveMap::mountPoint(const QString &drive) const
{
    const Drive *d = find(drive);
    return d ? d->volume.mountPoint : QString();
}

bool DriveMap::isAvailable(const QString &drive) const
{
    const Drive *d = find(drive);
    return d && d->volume.available;
}

QString DriveMap::toNative(const QString &drivePath) const
{
    const Drive *drive = drivePath.size() >= 2 && drivePath.at(1) == QLatin1Char(':') ? find(drivePath) : nullptr;
    if (!drive)
        throw DesktopError { DesktopError::PathNotFound, QStringLiteral("%1: no such drive").arg(drivePath) };

    QString native = drive->volume.mountPoint;
    // Empty segments come from the doubled backslash at a drive root; they name nothing.
    const QStringList segments = drivePath.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString &segment : segments) {
        if (!native.endsWith(QLatin1Char('/')))
            native += QLatin1Char('/');
        native += QString(segment).replace(BackslashInName, QLatin1Char('\\'));
    }
    return native;
}

QString DriveMap::nameToDriveForm(const QByteArray &nativeName)
{
    const QString name = QString::fromUtf8(nativeName);
    // Invalid UTF-8 decodes lossily, and a native U+F05C would read back as a backslash.
    if (name.contains(BackslashInName) || name.toUtf8() != nativeName)
        return QString();
    return QString(name).replace(QLatin1Char('\\'), BackslashInName);
}

QByteArray DriveMap::nameToNative(const QString &driveName)
{
    return QString(driveName).replace(BackslashInName, QLatin1Char('\\')).toUtf8();
}

QString DriveMap::displayName(const QString &driveName)
{
    QString shown = driveName;
    for (QChar &c : shown) {
        // A control character would break the row (a newline doubles its height) or vanish;
        // its Control Pictures symbol shows it instead. Line and paragraph separators break rows too.
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
        else if (c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QChar(0x2424);
        else if (c == BackslashInName)
            c = QLatin1Char('\\');
    }
    return shown;
}
