#include "DesktopError.h"

#include <QDir>

#include <cerrno>
#include <cstring>

DesktopError DesktopError::fromErrno(int errnum, const QString &path)
{
    int number = PathFileAccessError;
    switch (errnum) {
    case ENOENT:
    case ENOTDIR:
        number = PathNotFound;
        break;
    case EACCES:
    case EPERM:
        number = PermissionDenied;
        break;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
        number = DeviceUnavailable;
        break;
    default:
        break;
    }
    return { number, QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errnum))) };
}
