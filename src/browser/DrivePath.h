#pragma once

#include <QString>
#include <QStringList>

class DriveMap;

/// A drive-form folder path taken apart: the drive "D:" and the names below its root.
struct DrivePath
{
    QString drive;
    QStringList names;

    /// Reads "D:", "d:\", "D:\sounds" or "D:\sounds\" (empty names are dropped). Throws
    /// DesktopError 76 for text that is no drive-form path or names "." or "..".
    static DrivePath parse(const QString &text);

    bool isRoot() const { return names.isEmpty(); }
    /// "D:\" for the root, "D:\sounds\voice" below it: single backslashes, no trailing one.
    QString toString() const;
    /// The path of the first count names: 0 gives the root.
    DrivePath leading(qsizetype count) const;
    /// The path one name further down.
    DrivePath child(const QString &name) const;
};

/// Opens the native folder of path read-only for listing, after checking that its drive is
/// available in drives. Returns the file descriptor; throws DesktopError: 68 when the drive
/// is unavailable or its mount point is gone, otherwise numbered after errno (76, 70, ...).
int openFolder(const DriveMap &drives, const DrivePath &path);
