#include "DrivePath.h"

#include "desktop/DesktopError.h"
#include "desktop/DriveMap.h"

#include <cerrno>

#include <fcntl.h>

DrivePath DrivePath::parse(const QString &text)
{
    const auto notFound = [&] {
        return DesktopError { DesktopError::PathNotFound, QStringLiteral("%1: not a folder path").arg(text) };
    };
    if (text.size() < 2 || text.at(1) != QLatin1Char(':') || !text.at(0).isLetter() || text.at(0).unicode() > 127
        || (text.size() > 2 && text.at(2) != QLatin1Char('\\')))
        throw notFound();

    DrivePath path;
    path.drive = text.left(2).toUpper();
    path.names = text.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString &name : std::as_const(path.names)) {
        // These would step out of the folder named, even out of the drive's mount point.
        if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
            || name.contains(QChar(0)))
            throw notFound();
    }
    return path;
}

QString DrivePath::toString() const
{
    return drive + QLatin1Char('\\') + names.join(QLatin1Char('\\'));
}

DrivePath DrivePath::leading(qsizetype count) const
{
    return { drive, names.first(count) };
}

DrivePath DrivePath::child(const QString &name) const
{
    return { drive, names + QStringList { name } };
}

int openFolder(const DriveMap &drives, const DrivePath &path)
{
    const QString text = path.toString();
    if (!drives.isAvailable(path.drive))
        throw DesktopError { DesktopError::DeviceUnavailable,
            QStringLiteral("%1: device unavailable").arg(path.drive) };

    const QByteArray native = drives.toNative(text).toUtf8();
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        // The mount point itself is gone: the medium was pulled out and its folder removed.
        if (path.isRoot() && (error == ENOENT || error == ENOTDIR))
            throw DesktopError { DesktopError::DeviceUnavailable,
                QStringLiteral("%1: device unavailable").arg(path.drive) };
        throw DesktopError::fromErrno(error, text);
    }
    return fd;
}
