#pragma once

#include <QString>

/// An error raised by a desktop service: a number and a description naming what failed and why.
struct DesktopError
{
    enum Number {
        InternalError = 51,
        BadFileName = 52,
        FileNotFound = 53,
        DeviceUnavailable = 68,
        PermissionDenied = 70,
        PathFileAccessError = 75,
        PathNotFound = 76,
    };

    int number = 0;
    QString description;

    /// The error for a failed system call on path, numbered after errno.
    static DesktopError fromErrno(int errnum, const QString &path);
};
