#include "Volumes.h"

#include <QFile>
#include <QSet>

#include <sys/stat.h>

namespace {

// Kernel and service file systems: nothing a user keeps files on.
const QSet<QByteArray> pseudoFileSystems = {
    "autofs",
    "binfmt_misc",
    "bpf",
    "cgroup",
    "cgroup2",
    "configfs",
    "debugfs",
    "devpts",
    "devtmpfs",
    "efivarfs",
    "fusectl",
    "hugetlbfs",
    "mqueue",
    "nsfs",
    "overlay",
    "proc",
    "pstore",
    "ramfs",
    "rpc_pipefs",
    "securityfs",
    "selinuxfs",
    "sysfs",
    "tmpfs",
    "tracefs",
};

bool isUnder(const QString &path, QLatin1StringView folder)
{
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/'));
}

bool isRemovableMount(const QString &mountPoint)
{
    return isUnder(mountPoint, QLatin1StringView("/media")) || isUnder(mountPoint, QLatin1StringView("/run/media"))
        || isUnder(mountPoint, QLatin1StringView("/mnt"));
}

// Folders of the system itself; they are reachable through C: anyway.
bool isSystemFolder(const QString &mountPoint)
{
    static const QLatin1StringView systemTrees[] = {
        QLatin1StringView("/bin"),
        QLatin1StringView("/boot"),
        QLatin1StringView("/dev"),
        QLatin1StringView("/efi"),
        QLatin1StringView("/etc"),
        QLatin1StringView("/lib"),
        QLatin1StringView("/lib32"),
        QLatin1StringView("/lib64"),
        QLatin1StringView("/libx32"),
        QLatin1StringView("/opt"),
        QLatin1StringView("/proc"),
        QLatin1StringView("/root"),
        QLatin1StringView("/run"),
        QLatin1StringView("/sbin"),
        QLatin1StringView("/snap"),
        QLatin1StringView("/srv"),
        QLatin1StringView("/sys"),
        QLatin1StringView("/tmp"),
        QLatin1StringView("/usr"),
        QLatin1StringView("/var"),
    };
    if (mountPoint == QLatin1String("/") || mountPoint == QLatin1String("/home"))
        return true;
    if (isUnder(mountPoint, QLatin1StringView("/run/media")))
        return false;
    for (QLatin1StringView tree : systemTrees) {
        if (isUnder(mountPoint, tree))
            return true;
    }
    return false;
}

// mountinfo and fstab write a space as \040, a tab as \011, a backslash as \134.
QByteArray decodeOctalEscapes(const QByteArray &field)
{
    QByteArray decoded;
    decoded.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](qsizetype at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            decoded += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            decoded += field[i];
        }
    }
    return decoded;
}

// A mount point as a path, or an empty string when its bytes are no exact UTF-8.
QString decodeMountPoint(const QByteArray &field)
{
    QByteArray bytes = decodeOctalEscapes(field);
    while (bytes.size() > 1 && bytes.endsWith('/'))
        bytes.chop(1);
    const QString path = QString::fromUtf8(bytes);
    if (!path.startsWith(QLatin1Char('/')) || path.toUtf8() != bytes)
        return QString();
    return path;
}

QList<QByteArray> fieldsOf(const QByteArray &line)
{
    QList<QByteArray> fields = line.simplified().split(' ');
    fields.removeAll(QByteArray());
    return fields;
}

struct Mount
{
    QString mountPoint;
    QByteArray root;
    QByteArray type;
    QByteArray source;
};

QList<Mount> parseMountInfo(const QByteArray &mountInfo)
{
    QList<Mount> mounts;
    for (const QByteArray &line : mountInfo.split('\n')) {
        // id parent major:minor root mount-point options [optional fields...] - type source super-options
        const QList<QByteArray> fields = fieldsOf(line);
        const qsizetype separator = fields.indexOf("-", 6);
        if (fields.size() < 6 || separator < 0 || separator + 2 >= fields.size())
            continue;
        const QString mountPoint = decodeMountPoint(fields[4]);
        if (mountPoint.isEmpty())
            continue;
        mounts.append({ mountPoint, decodeOctalEscapes(fields[3]), fields[separator + 1],
            decodeOctalEscapes(fields[separator + 2]) });
    }
    return mounts;
}

bool isUserVolume(const Mount &mount, const std::function<bool(const QString &)> &isFolder)
{
    if (pseudoFileSystems.contains(mount.type) || isSystemFolder(mount.mountPoint))
        return false;
    if (!mount.source.startsWith("/dev/") && !isRemovableMount(mount.mountPoint))
        return false;
    // A root other than "/" is a bind mount (or a subvolume); one of a single file is no volume.
    return mount.root == "/" || isFolder(mount.mountPoint);
}

} // namespace

QList<Volume> parseVolumes(
    const QByteArray &mountInfo, const QByteArray &fstab, const std::function<bool(const QString &)> &isFolder)
{
    const QList<Mount> mounts = parseMountInfo(mountInfo);
    QList<Volume> volumes;
    QSet<QString> listed;
    QSet<QString> mounted;
    for (const Mount &mount : mounts) {
        // An automount point alone means nothing is mounted there yet.
        if (mount.type != "autofs")
            mounted.insert(mount.mountPoint);
        if (!listed.contains(mount.mountPoint) && isUserVolume(mount, isFolder)) {
            listed.insert(mount.mountPoint);
            volumes.append({ mount.mountPoint, true });
        }
    }

    for (const QByteArray &line : fstab.split('\n')) {
        // device mount-point type[,type...] options [dump [pass]]
        const QList<QByteArray> fields = fieldsOf(line);
        if (fields.size() < 4 || fields[0].startsWith('#'))
            continue;
        const QString mountPoint = decodeMountPoint(fields[1]);
        const QList<QByteArray> types = fields[2].split(',');
        if (mountPoint.isEmpty() || listed.contains(mountPoint) || isSystemFolder(mountPoint)
            || !fields[3].split(',').contains("noauto"))
            continue;
        const bool optical = types.contains("iso9660") || types.contains("udf");
        if (!optical && !isRemovableMount(mountPoint))
            continue;
        listed.insert(mountPoint);
        volumes.append({ mountPoint, mounted.contains(mountPoint) });
    }
    return volumes;
}

QList<Volume> scanVolumes(const QString &mountInfoPath, const QString &fstabPath)
{
    // A file that cannot be read lists nothing: the root drive C: is always there.
    const auto readAll = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto isFolder = [](const QString &path) {
        struct stat status;
        return ::stat(path.toUtf8().constData(), &status) == 0 && S_ISDIR(status.st_mode);
    };
    return parseVolumes(readAll(mountInfoPath), readAll(fstabPath), isFolder);
}
