#pragma once

#include "desktop/DriveMap.h"

#include <QByteArray>

#include <functional>

/// The user-visible volumes besides the root: file systems mounted from real devices and
/// removable mounts (under /media, /run/media, /mnt), and the removable mount points that fstab
/// declares noauto, unavailable while nothing is mounted there.
QList<Volume> scanVolumes(const QString &mountInfoPath = QStringLiteral("/proc/self/mountinfo"),
    const QString &fstabPath = QStringLiteral("/etc/fstab"));

/// The same from the two files' text. isFolder tells whether a native path is a folder; it is
/// asked only about bind mounts, so that those of single files are left out.
QList<Volume> parseVolumes(
    const QByteArray &mountInfo, const QByteArray &fstab, const std::function<bool(const QString &)> &isFolder);
